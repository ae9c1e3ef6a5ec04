// Hit latency. First: from the return of BASS_ChannelPlay to the first
// frame of the channel entering the device buffer (the mixer's share), and
// the device's share on top (frames queued ahead plus the stream latency it
// reports), over 1,000 hits. Second: the same sample played by
// BASS_ChannelPlay and by PlaySound, each hit timed until its sound shows
// up in a capture of the output's monitor; the capture path adds the same
// delay to both. A third argument "exclusive" asks for exclusive output.
#include <windows.h>

#include <mmsystem.h>

#include <algorithm>
#include <atomic>
#include <cmath>
#include <cstdio>
#include <cstring>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "bass/bass.h"
#include "bass/output.h"

namespace {

double Frequency()
{
    LARGE_INTEGER f;
    QueryPerformanceFrequency(&f);
    return (double)f.QuadPart;
}

int64_t Ticks()
{
    LARGE_INTEGER c;
    QueryPerformanceCounter(&c);
    return c.QuadPart;
}

// A 30 ms 1 kHz burst as a WAV image, for the file and for PlaySound.
std::vector<char> BurstWav()
{
    const uint32_t frames = 1323, data = frames * 4, riff = 36 + data, fmt = 16, rate = 44100, bytes = rate * 4;
    const uint16_t pcm = 1, ch = 2, align = 4, bits = 16;
    std::vector<char> w(44 + data);
    char* p = w.data();
    auto put = [&](const void* v, size_t n) {
        std::memcpy(p, v, n);
        p += n;
    };
    put("RIFF", 4), put(&riff, 4), put("WAVEfmt ", 8), put(&fmt, 4), put(&pcm, 2), put(&ch, 2), put(&rate, 4);
    put(&bytes, 4), put(&align, 2), put(&bits, 2), put("data", 4), put(&data, 4);
    for (uint32_t i = 0; i < frames; i++) {
        int16_t s = (int16_t)(16000 * std::sin(6.2831853 * 1000 * i / 44100));
        put(&s, 2), put(&s, 2);
    }
    return w;
}

struct Stats {
    double Median, P99, Min, Max;
};

Stats Summarise(std::vector<double> v)
{
    std::sort(v.begin(), v.end());
    return {v[v.size() / 2], v[std::min(v.size() - 1, v.size() * 99 / 100)], v.front(), v.back()};
}

void Print(const char* what, const std::vector<double>& v)
{
    if (v.empty()) {
        std::printf("  %-44s no data\n", what);
        return;
    }
    Stats s = Summarise(v);
    std::printf("  %-44s median %6.2f ms  p99 %6.2f ms  (min %.2f, max %.2f, n=%zu)\n", what, s.Median, s.P99, s.Min,
                s.Max, v.size());
}

// Captures the output's monitor (the wave input named "Monitor ...") and
// keeps each sample's capture time.
class Capture {
public:
    bool Open()
    {
        UINT n = waveInGetNumDevs(), dev = UINT(-1);
        for (UINT i = 0; i < n; i++) {
            WAVEINCAPSA caps;
            if (waveInGetDevCapsA(i, &caps, sizeof(caps)) == MMSYSERR_NOERROR && std::strstr(caps.szPname, "Monitor"))
                dev = i;
        }
        if (dev == UINT(-1))
            return false;
        WAVEFORMATEX f = {WAVE_FORMAT_PCM, 1, 44100, 88200, 2, 16, 0};
        done_ = CreateEventW(nullptr, FALSE, FALSE, nullptr);
        if (waveInOpen(&in_, dev, &f, (DWORD_PTR)done_, 0, CALLBACK_EVENT) != MMSYSERR_NOERROR)
            return false;
        memory_.assign(Buffers * Frames, 0);
        for (int i = 0; i < Buffers; i++) {
            hdr_[i] = WAVEHDR();
            hdr_[i].lpData = reinterpret_cast<LPSTR>(&memory_[i * Frames]);
            hdr_[i].dwBufferLength = Frames * 2;
            waveInPrepareHeader(in_, &hdr_[i], sizeof(WAVEHDR));
            waveInAddBuffer(in_, &hdr_[i], sizeof(WAVEHDR));
        }
        stop_ = false;
        thread_ = std::thread([this] { Run(); });
        waveInStart(in_);
        return true;
    }
    void Close()
    {
        stop_ = true;
        SetEvent(done_);
        thread_.join();
        waveInReset(in_);
        for (auto& h : hdr_)
            waveInUnprepareHeader(in_, &h, sizeof(WAVEHDR));
        waveInClose(in_);
        CloseHandle(done_);
    }
    // Sample indices where sound starts after at least 60 ms of quiet.
    std::vector<size_t> Onsets()
    {
        std::lock_guard<std::mutex> hold(lock_);
        std::vector<size_t> out;
        size_t quiet = 2646;
        for (size_t i = 0; i < samples_.size(); i++) {
            if (std::abs(samples_[i]) > 4000) {
                if (quiet >= 2646)
                    out.push_back(i);
                quiet = 0;
            } else {
                quiet++;
            }
        }
        return out;
    }

private:
    static constexpr int Buffers = 32;
    static constexpr int Frames = 441;
    HWAVEIN in_ = nullptr;
    HANDLE done_ = nullptr;
    WAVEHDR hdr_[Buffers];
    std::vector<int16_t> memory_;
    std::vector<int16_t> samples_;
    std::mutex lock_;
    std::thread thread_;
    std::atomic<bool> stop_{false};
    int next_ = 0;

    void Run()
    {
        while (!stop_) {
            WaitForSingleObject(done_, 100);
            while (hdr_[next_].dwFlags & WHDR_DONE) {
                WAVEHDR& h = hdr_[next_];
                {
                    std::lock_guard<std::mutex> hold(lock_);
                    auto* s = reinterpret_cast<int16_t*>(h.lpData);
                    samples_.insert(samples_.end(), s, s + h.dwBytesRecorded / 2);
                }
                h.dwFlags &= ~WHDR_DONE;
                waveInAddBuffer(in_, &h, sizeof(WAVEHDR));
                next_ = (next_ + 1) % Buffers;
            }
        }
    }
};

} // namespace

int main(int argc, char** argv)
{
    int hits = argc > 1 ? std::atoi(argv[1]) : 1000;
    int captured = argc > 2 ? std::atoi(argv[2]) : 100;
    const bool exclusive = argc > 3 && std::strcmp(argv[3], "exclusive") == 0;
    double freq = Frequency();
    BASS_SetExclusive(exclusive);
    if (!BASS_Init(-1, 44100, 4, nullptr, nullptr)) {
        std::printf("BASS_Init failed\n");
        return 1;
    }
    BASS_OUTPUTMODE mode = {};
    BASS_GetOutputMode(&mode);
    static const char* const kModes[] = {"none", "shared", "exclusive", "waveOut"};
    std::printf("mode: %s%s", kModes[mode.mode < 4 ? mode.mode : 0], mode.asked ? ", exclusive asked" : "");
    if (mode.asked && mode.mode != BASS_OUTPUT_EXCLUSIVE)
        std::printf(" and refused (reason %lu, 0x%08lX)", mode.reason, mode.code);
    std::printf("\n");
    const OutputFormat& f = OutputCurrentFormat();
    const LanePolicy& p = OutputCurrentPolicy();
    std::printf("output: %s %s, %u Hz, period %u frames (%.2f ms), kept ahead %u frames (%.2f ms; %u after a start "
                "from idle, %u with music alone), written before a start %u frames, buffer %u frames, stream latency "
                "%.2f ms, idle stop %s\n",
                OutputBackendName(), f.api, f.rate, f.periodFrames, 1000.0 * f.periodFrames / f.rate, p.targetFrames,
                1000.0 * p.targetFrames / f.rate, p.startFrames, OutputHasHitLane() ? p.deepFrames : 0, p.startFrames,
                f.bufferFrames, f.latencyMs, p.idles ? "on" : "off");
    if (OutputHasHitLane()) {
        const OutputFormat& h = OutputHitLaneFormat();
        std::printf("hits' own stream: %s, period %u frames, buffer %u frames (%u written before a start), stream "
                    "latency %.2f ms\n",
                    h.api, h.periodFrames, h.bufferFrames, OutputHitLanePolicy().startFrames, h.latencyMs);
    } else {
        std::printf("hits' own stream: none, hits share the stream above\n");
    }

    std::vector<char> wav = BurstWav();
    char temp[MAX_PATH];
    GetTempPathA(MAX_PATH, temp);
    std::string path = std::string(temp) + "bass_latency_bench.wav";
    FILE* file = std::fopen(path.c_str(), "wb");
    std::fwrite(wav.data(), 1, wav.size(), file);
    std::fclose(file);
    DWORD h = BASS_StreamCreateFile(FALSE, path.c_str(), 0, 0, 0);

    std::vector<double> mixer, device, total;
    for (int i = 0; i < hits; i++) {
        uint32_t seq = OutputStartProbe().seq.load();
        BASS_ChannelPlay(h, TRUE);
        int64_t t0 = Ticks();
        DWORD start = GetTickCount();
        while (OutputStartProbe().seq.load() == seq && GetTickCount() - start < 1000)
            std::this_thread::yield();
        if (OutputStartProbe().handle.load() != h)
            continue;
        double m = std::max(0.0, (OutputStartProbe().ticks.load() - t0) * 1000.0 / freq);
        double d = OutputStartProbe().queued.load() * 1000.0 / f.rate + f.latencyMs;
        mixer.push_back(m);
        device.push_back(d);
        total.push_back(m + d);
        // Hits land at every phase of the mixer period.
        Sleep(1 + i % 7);
    }
    std::printf("BASS_ChannelPlay, %d hits:\n", hits);
    Print("play return -> first frame in device buffer", mixer);
    Print("device share (queued ahead + stream latency)", device);
    Print("total", total);

    Capture capture;
    if (!capture.Open()) {
        std::printf("no monitor capture device: part 2 skipped\n");
    } else {
        // Hits alternate, 200 ms apart; the n-th onset in the capture is the
        // n-th hit. Capture time = sample / rate + an unknown constant, so the
        // two are compared with each other, not with zero.
        std::vector<double> hitTimes;
        for (int i = 0; i < 2 * captured; i++) {
            hitTimes.push_back(Ticks() / freq);
            if (i % 2 == 0)
                BASS_ChannelPlay(h, TRUE);
            else
                PlaySoundA(wav.data(), nullptr, SND_MEMORY | SND_ASYNC | SND_NODEFAULT);
            Sleep(200);
        }
        capture.Close();
        std::vector<size_t> onsets = capture.Onsets();
        if (onsets.size() != hitTimes.size()) {
            std::printf("capture found %zu onsets for %zu hits: part 2 not usable\n", onsets.size(), hitTimes.size());
        } else {
            // Adjacent hits, so a slow drift of the capture clock cancels too.
            std::vector<double> bassSpread, difference;
            double first = onsets[0] / 44100.0 - hitTimes[0];
            for (size_t i = 0; i + 1 < onsets.size(); i += 2) {
                double viaBass = onsets[i] / 44100.0 - hitTimes[i];
                double viaPlaySound = onsets[i + 1] / 44100.0 - hitTimes[i + 1];
                bassSpread.push_back((viaBass - first) * 1000.0);
                difference.push_back((viaPlaySound - viaBass) * 1000.0);
            }
            std::printf("hit -> onset in a capture of the output's monitor, %d hits each:\n", captured);
            Print("BASS hit, relative to the first BASS hit", bassSpread);
            Print("PlaySound minus the BASS hit before it", difference);
        }
    }
    BASS_Free();
    DeleteFileA(path.c_str());
    return 0;
}

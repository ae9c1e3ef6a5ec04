// Mixing cost: 32 playing voices rendered in 10 ms blocks, against the
// duration of the audio made; then the same with the mix recorder's ring
// fed after every block and a writer thread putting it in a file; then with
// the metronome's click made and added after every block, as lane 0 does.
#include <algorithm>
#include <atomic>
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <thread>
#include <vector>

#include "bass/channels.h"
#include "bass/click.h"
#include "bass/decoder.h"
#include "bass/record_ring.h"

namespace {

class ToneDecoder : public Decoder {
public:
    explicit ToneDecoder(float freq) : freq_(freq) {}
    uint32_t SampleRate() const override { return 44100; }
    uint32_t FileChannels() const override { return 2; }
    uint64_t LengthFrames() const override { return 441000; }
    size_t Read(float* out, size_t frames) override
    {
        size_t n = (size_t)std::min<uint64_t>(frames, 441000 - pos_);
        for (size_t i = 0; i < n; i++)
            out[2 * i] = out[2 * i + 1] = 0.3f * std::sin(6.2831853f * freq_ * (pos_ + i) / 44100);
        pos_ += n;
        return n;
    }
    bool Seek(uint64_t frame) override
    {
        pos_ = frame;
        return frame < 441000;
    }

private:
    float freq_;
    uint64_t pos_ = 0;
};

void Ignore(void*, uint32_t, uint32_t, void*)
{}

// `ring`: the recorder's producer side runs after each block, as on the mixer thread.
// `click`: the metronome's click rendered and added to each block.
double Run(const std::vector<uint32_t>& voices, float volume, double seconds, RecordRing* ring = nullptr,
           ClickTimeline* click = nullptr)
{
    std::vector<float> mono(441);
    ClickBeat beats[16];
    size_t beatCount = 0;
    ClickSettings fast;
    fast.milliBpm = 300000;
    const uint64_t word = ClickPack(fast, true, 1);
    for (uint32_t h : voices) {
        ChannelSetVolume(h, volume);
        ChannelPlay(h, true);
    }
    std::vector<float> block(441 * 2);
    size_t blocks = (size_t)(seconds * 100);
    auto start = std::chrono::steady_clock::now();
    for (size_t b = 0; b < blocks; b++) {
        RenderMix(block.data(), 441);
        if (click && ClickRender(*click, word, mono.data(), 441, beats, 16, &beatCount))
            for (size_t i = 0; i < 441; i++) {
                block[2 * i] = std::min(1.0f, std::max(-1.0f, block[2 * i] + mono[i]));
                block[2 * i + 1] = std::min(1.0f, std::max(-1.0f, block[2 * i + 1] + mono[i]));
            }
        if (ring)
            ring->Push(block.data(), 441);
        // Loop the voices so all 32 stay playing.
        if (b % 900 == 899)
            for (uint32_t h : voices)
                ChannelPlay(h, true);
    }
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return seconds / took;
}

// The writer's side: drains the ring into a temporary file until told to stop.
class Writer {
public:
    explicit Writer(RecordRing& ring) : ring_(ring), file_(std::tmpfile()), thread_([this] { Loop(); }) {}
    ~Writer()
    {
        Finish();
        if (file_)
            std::fclose(file_);
    }
    // Writes what is left and returns the frames written in all.
    uint64_t Finish()
    {
        stop_.store(true);
        if (thread_.joinable())
            thread_.join();
        return frames_.load();
    }

private:
    void Loop()
    {
        for (;;) {
            bool last = stop_.load();
            const int16_t* data = nullptr;
            uint32_t n;
            while ((n = ring_.Peek(&data)) != 0) {
                if (file_)
                    std::fwrite(data, 2 * ring_.Channels(), n, file_);
                ring_.Consume(n);
                frames_ += n;
            }
            if (last)
                return;
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
        }
    }
    RecordRing& ring_;
    FILE* file_;
    std::atomic<bool> stop_{false};
    std::atomic<uint64_t> frames_{0};
    std::thread thread_;
};

} // namespace

int main()
{
    ChannelsOpen(44100, Ignore);
    std::vector<uint32_t> voices;
    for (int i = 0; i < 32; i++)
        voices.push_back(ChannelCreate(std::make_unique<ToneDecoder>(110.0f * (i + 1))));
    const double seconds = 120;
    double unity = Run(voices, 1.0f, seconds);
    double scaled = Run(voices, 0.7f, seconds);
    std::printf("32 voices, 10 ms blocks, %.0f s of audio at 44100 Hz stereo, limiter on\n", seconds);
    std::printf("  volume 1.0: %.0fx real time\n", unity);
    std::printf("  volume 0.7: %.0fx real time\n", scaled);

    // Recording off and on in turns, so that both see the same machine.
    const double part = 30;
    double off = 0, on = 0;
    uint32_t overruns = 0;
    uint64_t written = 0;
    for (int round = 0; round < 4; round++) {
        off += part / Run(voices, 1.0f, part);
        RecordRing ring(4 * 44100, 2);
        Writer writer(ring);
        on += part / Run(voices, 1.0f, part, &ring);
        written += writer.Finish();
        overruns += ring.Overruns();
    }
    std::printf("recording, %.0f s of audio each way in turns of %.0f s (ring of 4 s, writer to a file):\n", 4 * part,
                part);
    std::printf("  off: %.0fx real time\n", 4 * part / off);
    std::printf("  on:  %.0fx real time, %llu frames written, %u overruns\n", 4 * part / on,
                (unsigned long long)written, overruns);
    std::printf("  mixer cost with recording / without: %.3f\n", on / off);

    // The click at 300 a minute, the most it sounds, off and on in turns.
    double quiet = 0, clicking = 0;
    for (int round = 0; round < 4; round++) {
        quiet += part / Run(voices, 1.0f, part);
        ClickTimeline click;
        ClickReset(click, 44100);
        clicking += part / Run(voices, 1.0f, part, nullptr, &click);
    }
    std::printf("metronome at 300 a minute, %.0f s of audio each way in turns of %.0f s:\n", 4 * part, part);
    std::printf("  off: %.0fx real time\n", 4 * part / quiet);
    std::printf("  on:  %.0fx real time\n", 4 * part / clicking);
    std::printf("  mixer cost with the click / without: %.3f\n", clicking / quiet);
    ChannelsClose();
    return 0;
}

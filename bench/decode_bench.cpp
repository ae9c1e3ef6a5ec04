// Prints decoding figures: MP3 open, seek and decode speed on a ten-minute
// file, memory held, WAV open against reading the bytes, 19 s of FLAC and
// Ogg Vorbis against `flac -d` and oggdec of the same files, resampler speed.
#include <windows.h>

#include <algorithm>
#include <cstdio>
#include <string>
#include <vector>

#include "bench/bench_clock.h"
#include "byte_source.h"
#include "decoder.h"
#include "resampler.h"
#include "tests/support/process_memory.h"

namespace {

double Percentile(std::vector<double> v, double p)
{
    std::sort(v.begin(), v.end());
    return v[std::min(v.size() - 1, size_t(p * (v.size() - 1) + 0.5))];
}

void Mp3(const std::string& path)
{
    const size_t before = PrivateBytes();
    double t0 = Now();
    auto d = OpenDecoder(path.c_str());
    const double open = Now() - t0;
    if (!d) {
        printf("mp3: cannot open %s\n", path.c_str());
        return;
    }
    std::vector<float> buf(2 * 44100);
    t0 = Now();
    uint64_t frames = 0;
    for (int i = 0; i < 60; ++i)
        frames += d->Read(buf.data(), 44100);
    const double decode = Now() - t0;
    std::vector<double> seeks;
    uint32_t state = 12345;
    for (int i = 0; i < 200; ++i) {
        state = state * 1103515245u + 12345u;
        const uint64_t target = (uint64_t(state >> 8) * 4099) % d->LengthFrames();
        t0 = Now();
        d->Seek(target);
        d->Read(buf.data(), 1152); // until the first audio is there
        seeks.push_back((Now() - t0) * 1000);
    }
    const size_t grown = PrivateBytes() - before;
    printf("mp3 %.1f min: open %.1f ms, decode %.0fx real time, seek+first frame median %.2f ms p99 %.2f ms max %.2f "
           "ms (200 seeks), "
           "private memory %.2f MB\n",
           d->LengthFrames() / double(d->SampleRate()) / 60, open * 1000, frames / double(d->SampleRate()) / decode,
           Percentile(seeks, 0.5), Percentile(seeks, 0.99), Percentile(seeks, 1.0), grown / 1048576.0);
}

void Wav(const std::string& path)
{
    std::vector<double> opens, reads;
    for (int i = 0; i < 200; ++i) {
        double t0 = Now();
        auto d = OpenDecoder(path.c_str());
        opens.push_back((Now() - t0) * 1000);
        t0 = Now();
        auto f = OpenFileSource(path.c_str());
        auto m = LoadIntoMemory(*f, 0, f->Size());
        reads.push_back((Now() - t0) * 1000);
    }
    auto d = OpenDecoder(path.c_str());
    std::vector<float> buf(2 * 4096);
    const double t0 = Now();
    uint64_t frames = 0;
    for (int i = 0; i < 50; ++i) {
        d->Seek(0);
        for (size_t n; (n = d->Read(buf.data(), 4096)) > 0;)
            frames += n;
    }
    const double decode = Now() - t0;
    printf("wav %.1f s: open median %.3f ms vs reading its bytes %.3f ms (ratio %.2f), decode %.0fx real time\n",
           d->LengthFrames() / double(d->SampleRate()), Percentile(opens, 0.5), Percentile(reads, 0.5),
           Percentile(opens, 0.5) / Percentile(reads, 0.5), frames / double(d->SampleRate()) / decode);
}

// Runs a command of the build machine under bash and returns the seconds
// it took, or -1. Wine starts a Linux program but does not wait for it, so
// bash notes the start and end ($EPOCHREALTIME) in a file when it is done,
// and the bench waits for that file.
double RunTool(const std::string& command, const std::string& dir)
{
    const std::string done = dir + "/tool_time.txt", unixDone = done.substr(2);
    DeleteFileA(done.c_str());
    std::string line = std::string(BASH_TOOL) + " -c \"s=$EPOCHREALTIME; " + command +
                       "; e=$EPOCHREALTIME; echo $s $e > " + unixDone + ".part; mv " + unixDone + ".part " + unixDone +
                       "\"";
    STARTUPINFOA si = {};
    si.cb = sizeof si;
    PROCESS_INFORMATION pi;
    if (!CreateProcessA(nullptr, &line[0], nullptr, nullptr, FALSE, 0, nullptr, nullptr, &si, &pi))
        return -1;
    CloseHandle(pi.hThread);
    CloseHandle(pi.hProcess);
    for (const double deadline = Now() + 60; Now() < deadline; Sleep(1)) {
        FILE* f = fopen(done.c_str(), "r");
        if (!f)
            continue;
        double start = 0, end = 0;
        const bool read = fscanf(f, "%lf %lf", &start, &end) == 2;
        fclose(f);
        return read ? end - start : -1;
    }
    return -1;
}

// Our decoding of a whole file (open and every frame read) against the
// reference tool's decoding of it (its start included); the two alternate,
// and the medians of 7 runs are compared.
void Compressed(const char* what, const std::string& dir, const std::string& file, const std::string& tool,
                const char* output)
{
    const std::string path = dir + "/" + file;
    std::vector<double> ours, theirs;
    std::vector<float> buf(2 * 4096);
    double seconds = 0;
    for (int i = 0; i < 7; ++i) {
        double t0 = Now();
        auto d = OpenDecoder(path.c_str());
        if (!d) {
            printf("%s: cannot open %s\n", what, path.c_str());
            return;
        }
        while (d->Read(buf.data(), 4096) > 0) {
        }
        ours.push_back(Now() - t0);
        seconds = d->LengthFrames() / double(d->SampleRate());
        const double took = RunTool(tool + " " + path.substr(2) + output, dir);
        if (took < 0) {
            printf("%s: no time from %s\n", what, tool.c_str());
            return;
        }
        theirs.push_back(took);
    }
    const double a = Percentile(ours, 0.5), b = Percentile(theirs, 0.5);
    printf("%s %.1f s stereo: decoded in %.1f ms (%.0fx real time) vs %s %.1f ms, ratio %.2f\n", what, seconds,
           a * 1000, seconds / a, tool.c_str(), b * 1000, a / b);
}

void Resample()
{
    std::vector<float> in(2 * 44100, 0.25f), out(2 * 48100);
    Resampler r;
    r.Configure(44100, 48000);
    const double t0 = Now();
    for (int i = 0; i < 60; ++i) {
        size_t used, made;
        r.Process(in.data(), in.size() / 2, &used, out.data(), out.size() / 2, &made);
    }
    printf("resampler 44100 -> 48000: %.0fx real time\n", 60 / (Now() - t0));
}

} // namespace

int main()
{
    const std::string dir = MP3_FIXTURES;
    Mp3(dir + "/long.mp3");
    Wav(dir + "/source.wav");
    // The tools take the build machine's paths: the fixtures' folder is on Z:.
    Compressed("flac", dir, "drums19.flac", FLAC_TOOL " -s -d -c", " > /dev/null");
    Compressed("ogg", dir, "drums19.ogg", OGGDEC_TOOL " -Q -o /dev/null", "");
    Resample();
    return 0;
}

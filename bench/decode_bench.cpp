// Prints decoding figures: MP3 open, seek and decode speed on a ten-minute
// file, memory held, WAV open against reading the bytes, resampler speed.
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
    Resample();
    return 0;
}

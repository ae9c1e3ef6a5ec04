// Mixing cost: 32 playing voices rendered in 10 ms blocks, against the
// duration of the audio made.
#include <chrono>
#include <cmath>
#include <cstdio>
#include <memory>
#include <vector>

#include "bass/channels.h"
#include "bass/decoder.h"

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

double Run(const std::vector<uint32_t>& voices, float volume, double seconds)
{
    for (uint32_t h : voices) {
        ChannelSetVolume(h, volume);
        ChannelPlay(h, true);
    }
    std::vector<float> block(441 * 2);
    size_t blocks = (size_t)(seconds * 100);
    auto start = std::chrono::steady_clock::now();
    for (size_t b = 0; b < blocks; b++) {
        RenderMix(block.data(), 441);
        // Loop the voices so all 32 stay playing.
        if (b % 900 == 899)
            for (uint32_t h : voices)
                ChannelPlay(h, true);
    }
    double took = std::chrono::duration<double>(std::chrono::steady_clock::now() - start).count();
    return seconds / took;
}

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
    ChannelsClose();
    return 0;
}

// A short file held in memory is converted to the device rate whole: the
// last frames of the file must come out too, not stay in the resampler.
#include <gtest/gtest.h>

#include <cmath>

#include "bass/decoder.h"
#include "bass/source.h"

namespace {

class ToneDecoder : public Decoder {
public:
    ToneDecoder(uint32_t rate, uint64_t frames) : rate_(rate), frames_(frames) {}
    uint32_t SampleRate() const override { return rate_; }
    uint32_t FileChannels() const override { return 2; }
    uint64_t LengthFrames() const override { return frames_; }
    size_t Read(float* stereo, size_t frames) override
    {
        size_t n = (size_t)std::min<uint64_t>(frames, frames_ - pos_);
        for (size_t i = 0; i < 2 * n; i++)
            stereo[i] = 0.5f;
        pos_ += n;
        return n;
    }
    bool Seek(uint64_t frame) override
    {
        if (frame >= frames_)
            return false;
        pos_ = frame;
        return true;
    }

private:
    uint32_t rate_;
    uint64_t frames_, pos_ = 0;
};

TEST(MemorySource, ConvertedSampleKeepsItsWholeLength)
{
    struct { uint32_t fileRate, deviceRate; uint64_t frames, expected; } table[] = {
        {44100, 44100, 1000, 1000},
        {22050, 44100, 1000, 2000},
        {48000, 44100, 4800, 4410},
        {44100, 48000, 441, 480},
        {8000, 44100, 7, 39},  // ceil(7 * 44100 / 8000)
    };
    for (auto& row : table) {
        ToneDecoder decoder(row.fileRate, row.frames);
        auto source = LoadMemorySource(decoder, row.deviceRate);
        EXPECT_EQ(source->Frames(), row.expected) << row.fileRate << " -> " << row.deviceRate;
        // The held edge keeps the level to the very last frame.
        size_t last = (size_t)source->Frames() - 1;
        EXPECT_NEAR(source->Pcm[2 * last], 0.5f, 1e-6) << row.fileRate << " -> " << row.deviceRate;
    }
}

} // namespace

#pragma once
// A decoder whose file frame n carries the value n + 1 (scaled), so any
// block of output tells which file frames it holds.
#include <algorithm>
#include <cstdint>

#include "bass/decoder.h"

constexpr float Scale = 1.0f / 65536;

class CountingDecoder : public Decoder {
public:
    CountingDecoder(uint32_t rate, uint32_t channels, uint64_t frames)
        : rate_(rate), channels_(channels), frames_(frames)
    {}
    uint32_t SampleRate() const override { return rate_; }
    uint32_t FileChannels() const override { return channels_; }
    uint64_t LengthFrames() const override { return frames_; }
    size_t Read(float* stereo, size_t frames) override
    {
        size_t n = (size_t)std::min<uint64_t>(frames, frames_ - pos_);
        for (size_t i = 0; i < n; i++) {
            stereo[2 * i] = (float)(pos_ + i + 1) * Scale;
            stereo[2 * i + 1] = -(float)(pos_ + i + 1) * Scale;
        }
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
    uint32_t rate_, channels_;
    uint64_t frames_, pos_ = 0;
};

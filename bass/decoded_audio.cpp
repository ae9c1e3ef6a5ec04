#include "decoded_audio.h"

#include "decode_budget.h"

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

class DecodedAudio : public Decoder {
public:
    DecodedAudio(std::vector<float> stereo, uint32_t rate, uint32_t channels, DecodedBytes held)
        : stereo_(std::move(stereo)), held_(std::move(held)), rate_(rate), channels_(channels)
    {}
    uint32_t SampleRate() const override { return rate_; }
    uint32_t FileChannels() const override { return channels_; }
    uint64_t LengthFrames() const override { return stereo_.size() / 2; }
    bool InMemory() const override { return true; }

    size_t Read(float* stereo, size_t frames) override
    {
        const size_t n = std::min<size_t>(frames, LengthFrames() - position_);
        memcpy(stereo, stereo_.data() + 2 * position_, n * 2 * sizeof(float));
        position_ += n;
        return n;
    }

    bool Seek(uint64_t frame) override
    {
        if (frame >= LengthFrames())
            return false;
        position_ = static_cast<size_t>(frame);
        return true;
    }

private:
    std::vector<float> stereo_;
    DecodedBytes held_;
    uint32_t rate_, channels_;
    size_t position_ = 0;
};

} // namespace

std::unique_ptr<Decoder> DecodeWholeIfShort(std::unique_ptr<Decoder> streaming)
{
    if (!streaming || streaming->LengthFrames() > uint64_t(kDecodeWholeSeconds) * streaming->SampleRate())
        return streaming;
    // Grown as frames really arrive: the stated length only bounds it. The
    // kit's budget is charged before each chunk is taken.
    constexpr size_t kChunk = 4096;
    std::vector<float> stereo;
    DecodedBytes held;
    for (;;) {
        const size_t at = stereo.size();
        const uint64_t needed = (uint64_t)(at + 2 * kChunk) * sizeof(float);
        if (needed > held.Bytes())
            held.Grow(needed - held.Bytes());
        stereo.resize(at + 2 * kChunk);
        const size_t n = streaming->Read(stereo.data() + at, kChunk);
        stereo.resize(at + 2 * n);
        if (n < kChunk)
            break;
    }
    if (stereo.empty())
        return nullptr;
    stereo.shrink_to_fit();
    return std::make_unique<DecodedAudio>(std::move(stereo), streaming->SampleRate(), streaming->FileChannels(),
                                          std::move(held));
}

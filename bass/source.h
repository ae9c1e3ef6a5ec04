#pragma once
// The audio of one channel as the mixer reads it, at the device rate:
// short files decoded whole into memory at creation, long ones decoded
// ahead by the feeder thread into a ring of blocks.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "bass/decode_budget.h"
#include "bass/decoder.h"
#include "bass/resampler.h"

struct Source {
    uint32_t fileRate = 0;
    uint32_t fileChannels = 0;
    uint64_t fileFrames = 0;
    uint32_t deviceRate = 0;
    bool isStream = false;
    virtual ~Source() = default;
    // Device frame that plays file frame `frame`.
    uint64_t DeviceFrameOf(uint64_t frame) const;
    // File frames covered by `deviceFrames` frames of output.
    uint64_t FileFramesOf(uint64_t deviceFrames) const;
};

struct MemorySource : Source {
    // Stereo frames at the device rate; not value-initialised, as every
    // frame is written by the decoder before use.
    std::unique_ptr<float[]> pcm;
    uint64_t pcmFrames = 0;
    DecodedBytes held; // pcm, counted against the budget
    uint64_t Frames() const { return pcmFrames; }
};

struct StreamBlock {
    static constexpr size_t kCapacity = 1024;
    float data[kCapacity * 2];
    uint32_t frames;
    uint32_t gen; // the channel generation it was decoded for
    bool last;    // the file ends with this block
};

class StreamSource : public Source {
public:
    static constexpr uint32_t kRingBlocks = 16;
    StreamSource(std::unique_ptr<Decoder> decoder, uint32_t deviceRate);
    // API side: decode from `frame` on, for generation `gen`.
    void Request(uint32_t gen, uint64_t frame);
    // Feeder side: decodes into free blocks; true when it made any.
    bool Fill();
    // Mixer side: copies up to `frames` frames of generation `gen`, skipping
    // blocks of older generations. `ended` tells the last frame was read.
    size_t Read(float* out, size_t frames, uint32_t gen, bool* ended);
    bool Starved() const;

private:
    std::unique_ptr<Decoder> decoder_;
    Resampler resampler_;
    bool resample_ = false;
    std::unique_ptr<StreamBlock[]> blocks_;
    std::atomic<uint32_t> write_{0}, read_{0};
    std::mutex requestLock_;
    uint32_t requestGen_ = 1;
    uint64_t requestFrame_ = 0;
    // feeder-owned
    uint32_t fedGen_ = 0;
    bool eof_ = false;
    bool producedLast_ = false;
    std::vector<float> in_;
    size_t inPos_ = 0, inCount_ = 0;
    // mixer-owned
    uint32_t readOffset_ = 0;
    size_t Produce(float* out, size_t frames, bool* last);
};

// Decodes the whole file now, resampled to the device rate, up to its
// stated length; throws std::bad_alloc (DecodeBudgetExceeded among them)
// when what it really holds does not fit.
std::shared_ptr<MemorySource> LoadMemorySource(Decoder& decoder, uint32_t deviceRate);

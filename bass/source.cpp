#include "bass/source.h"

#include <algorithm>
#include <cstring>
#include <vector>

uint64_t Source::DeviceFrameOf(uint64_t frame) const
{
    if (fileRate == deviceRate)
        return frame;
    return frame * deviceRate / fileRate;
}

uint64_t Source::FileFramesOf(uint64_t deviceFrames) const
{
    if (fileRate == deviceRate)
        return deviceFrames;
    return deviceFrames * fileRate / deviceRate;
}

static void Describe(Source& s, const Decoder& d, uint32_t deviceRate)
{
    s.fileRate = d.SampleRate();
    s.fileChannels = d.FileChannels();
    s.fileFrames = d.LengthFrames();
    s.deviceRate = deviceRate;
}

namespace {

// Frames decoded and converted at a time while a file is loaded whole.
constexpr size_t kLoadFrames = 16384;

// Device-rate frames of a file loaded whole, a block at a time as they
// are made, each block counted before it is taken.
class LoadedFrames {
public:
    explicit LoadedFrames(DecodedBytes& held) : held_(held) {}
    void Add(const float* stereo, size_t frames)
    {
        while (frames) {
            if (blocks_.empty() || used_ == kLoadFrames) {
                held_.Grow(kLoadFrames * 2 * sizeof(float));
                blocks_.emplace_back(new float[kLoadFrames * 2]);
                used_ = 0;
            }
            const size_t n = std::min(frames, kLoadFrames - used_);
            std::memcpy(blocks_.back().get() + used_ * 2, stereo, n * 2 * sizeof(float));
            used_ += n;
            stereo += n * 2;
            frames -= n;
        }
    }
    uint64_t Frames() const { return blocks_.empty() ? 0 : (blocks_.size() - 1) * kLoadFrames + used_; }
    // The frames in one block of their exact size; the counted blocks go.
    std::unique_ptr<float[]> Join()
    {
        const uint64_t frames = Frames();
        std::unique_ptr<float[]> all(new float[frames * 2]);
        for (size_t b = 0; b < blocks_.size(); b++) {
            const size_t n = b + 1 < blocks_.size() ? kLoadFrames : used_;
            std::memcpy(all.get() + b * kLoadFrames * 2, blocks_[b].get(), n * 2 * sizeof(float));
        }
        blocks_.clear();
        return all;
    }

private:
    DecodedBytes& held_;
    std::vector<std::unique_ptr<float[]>> blocks_;
    size_t used_ = 0;
};

} // namespace

std::shared_ptr<MemorySource> LoadMemorySource(Decoder& decoder, uint32_t deviceRate)
{
    auto src = std::make_shared<MemorySource>();
    Describe(*src, decoder, deviceRate);
    // Read as far as the stated length, but sized by what really comes: a
    // header that lies about its length must not size an allocation.
    const bool resample = src->fileRate != deviceRate;
    Resampler rs;
    if (resample)
        rs.Configure(src->fileRate, deviceRate);
    std::vector<float> in(kLoadFrames * 2), converted(kLoadFrames * 2);
    LoadedFrames frames(src->held);
    uint64_t read = 0;
    while (read < src->fileFrames) {
        const size_t want = (size_t)std::min<uint64_t>(kLoadFrames, src->fileFrames - read);
        const size_t got = decoder.Read(in.data(), want);
        read += got;
        if (!resample) {
            frames.Add(in.data(), got);
        } else {
            for (size_t used = 0; used < got;) {
                size_t taken = 0, made = 0;
                rs.Process(in.data() + used * 2, got - used, &taken, converted.data(), kLoadFrames, &made);
                frames.Add(converted.data(), made);
                used += taken;
                if (!taken && !made)
                    break;
            }
        }
        if (got < want)
            break;
    }
    if (resample && read) {
        for (size_t made = 1; made;) {
            rs.Drain(converted.data(), kLoadFrames, &made);
            frames.Add(converted.data(), made);
        }
    }
    src->fileFrames = read;
    src->pcmFrames = frames.Frames();
    src->pcm = frames.Join();
    return src;
}

StreamSource::StreamSource(std::unique_ptr<Decoder> decoder, uint32_t deviceRate)
    : decoder_(std::move(decoder)), blocks_(new StreamBlock[kRingBlocks])
{
    Describe(*this, *decoder_, deviceRate);
    isStream = true;
    resample_ = fileRate != deviceRate;
    if (resample_) {
        resampler_.Configure(fileRate, deviceRate);
        in_.resize(StreamBlock::kCapacity * 2 * 8);
    }
}

void StreamSource::Request(uint32_t gen, uint64_t frame)
{
    std::lock_guard<std::mutex> hold(requestLock_);
    requestGen_ = gen;
    requestFrame_ = frame;
}

size_t StreamSource::Produce(float* out, size_t frames, bool* last)
{
    *last = false;
    if (!resample_) {
        size_t got = decoder_->Read(out, frames);
        *last = got < frames;
        return got;
    }
    size_t made = 0;
    const size_t inCap = in_.size() / 2;
    while (made < frames) {
        if (inCount_ == 0 && !eof_) {
            inPos_ = 0;
            inCount_ = decoder_->Read(in_.data(), inCap);
            if (inCount_ < inCap)
                eof_ = true;
        }
        if (inCount_ == 0) {
            // The decoder is done: the resampler still owes the frames of
            // its last few input frames.
            size_t got = 0;
            resampler_.Drain(out + made * 2, frames - made, &got);
            made += got;
            break;
        }
        size_t used = 0, got = 0;
        resampler_.Process(in_.data() + inPos_ * 2, inCount_, &used, out + made * 2, frames - made, &got);
        inPos_ += used;
        inCount_ -= used;
        made += got;
        if (used == 0 && got == 0)
            break; // the resampler holds the few frames of its history
    }
    *last = eof_ && inCount_ == 0 && made < frames;
    return made;
}

bool StreamSource::Fill()
{
    uint32_t gen;
    uint64_t frame;
    {
        std::lock_guard<std::mutex> hold(requestLock_);
        gen = requestGen_;
        frame = requestFrame_;
    }
    if (gen != fedGen_) {
        decoder_->Seek(frame);
        resampler_.Reset();
        fedGen_ = gen;
        eof_ = false;
        inCount_ = 0;
        producedLast_ = false;
    }
    bool work = false;
    while (!producedLast_) {
        uint32_t w = write_.load(std::memory_order_relaxed);
        if (w - read_.load(std::memory_order_acquire) >= kRingBlocks)
            break;
        StreamBlock& b = blocks_[w % kRingBlocks];
        bool last = false;
        b.frames = (uint32_t)Produce(b.data, StreamBlock::kCapacity, &last);
        b.gen = gen;
        b.last = last;
        write_.store(w + 1, std::memory_order_release);
        work = true;
        if (last)
            producedLast_ = true;
        std::lock_guard<std::mutex> hold(requestLock_);
        if (requestGen_ != gen)
            break;
    }
    return work;
}

size_t StreamSource::Read(float* out, size_t frames, uint32_t gen, bool* ended)
{
    *ended = false;
    size_t made = 0;
    while (made < frames) {
        uint32_t r = read_.load(std::memory_order_relaxed);
        if (r == write_.load(std::memory_order_acquire))
            break;
        const StreamBlock& b = blocks_[r % kRingBlocks];
        if (b.gen != gen) {
            readOffset_ = 0;
            read_.store(r + 1, std::memory_order_release);
            continue;
        }
        size_t n = std::min<size_t>(frames - made, b.frames - readOffset_);
        std::memcpy(out + made * 2, b.data + readOffset_ * 2, n * 2 * sizeof(float));
        made += n;
        readOffset_ += (uint32_t)n;
        if (readOffset_ == b.frames) {
            readOffset_ = 0;
            bool last = b.last;
            read_.store(r + 1, std::memory_order_release);
            if (last) {
                *ended = true;
                break;
            }
        }
    }
    return made;
}

bool StreamSource::Starved() const
{
    return write_.load(std::memory_order_acquire) - read_.load(std::memory_order_relaxed) < kRingBlocks / 2;
}

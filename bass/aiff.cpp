#include "aiff.h"

#include <algorithm>
#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

enum class Coding { BigInteger, LittleInteger, Float };

struct AiffFormat {
    Coding coding = Coding::BigInteger;
    uint32_t channels = 0;
    uint32_t sampleBytes = 0; // container bytes of one sample
    uint32_t rate = 0;
    uint64_t frames = 0;
    uint64_t dataOffset = 0;
    uint32_t BlockAlign() const { return channels * sampleBytes; }
};

uint16_t Be16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] << 8 | p[1]);
}
uint32_t Be32(const uint8_t* p)
{
    return static_cast<uint32_t>(p[0]) << 24 | p[1] << 16 | p[2] << 8 | p[3];
}

// The sample rate, an 80-bit IEEE extended number; 0 when it is none we take.
uint32_t ExtendedRate(const uint8_t* p)
{
    const int exponent = (p[0] & 0x7F) << 8 | p[1];
    const uint64_t mantissa = static_cast<uint64_t>(Be32(p + 2)) << 32 | Be32(p + 6);
    if ((p[0] & 0x80) || exponent < 16383 || exponent > 16383 + 31)
        return 0;
    const double rate = std::round(std::ldexp(static_cast<double>(mantissa), exponent - 16383 - 63));
    return rate >= kWavMinRate && rate <= kWavMaxRate ? static_cast<uint32_t>(rate) : 0;
}

// The COMM chunk's first `n` bytes (at most 22): channels, frames, bits,
// rate, and in AIFF-C the compression type.
bool ParseComm(const uint8_t* p, uint32_t n, bool compressed, AiffFormat* f)
{
    if (n < 18 || (compressed && n < 22))
        return false;
    f->channels = Be16(p);
    f->frames = Be32(p + 2);
    const uint32_t bits = Be16(p + 6);
    f->rate = ExtendedRate(p + 8);
    const char* type = compressed ? reinterpret_cast<const char*>(p + 18) : "NONE";
    if (!memcmp(type, "NONE", 4) || !memcmp(type, "twos", 4) || !memcmp(type, "in24", 4) || !memcmp(type, "in32", 4) ||
        !memcmp(type, "sowt", 4)) {
        f->coding = memcmp(type, "sowt", 4) ? Coding::BigInteger : Coding::LittleInteger;
        if (bits < 1 || bits > 32)
            return false;
        f->sampleBytes = (bits + 7) / 8;
    } else if (!memcmp(type, "fl32", 4) || !memcmp(type, "FL32", 4)) {
        f->coding = Coding::Float;
        f->sampleBytes = 4;
    } else if (!memcmp(type, "fl64", 4) || !memcmp(type, "FL64", 4)) {
        f->coding = Coding::Float;
        f->sampleBytes = 8;
    } else {
        return false;
    }
    return f->channels != 0 && f->channels <= kWavMaxChannels && f->rate != 0;
}

// Walks the chunks up to the real end of the file (the FORM size is not
// trusted); a sound chunk whose size runs past the end is cut to the bytes
// there.
bool ParseAiff(ByteSource& source, AiffFormat* format)
{
    const uint64_t size = source.Size();
    uint8_t head[12];
    if (source.ReadAt(0, head, 12) != 12 || memcmp(head, "FORM", 4) != 0)
        return false;
    const bool compressed = memcmp(head + 8, "AIFC", 4) == 0;
    if (!compressed && memcmp(head + 8, "AIFF", 4) != 0)
        return false;
    AiffFormat f;
    bool haveComm = false, haveSound = false;
    uint64_t soundBytes = 0;
    for (uint64_t pos = 12; pos + 8 <= size && !(haveComm && haveSound);) {
        uint8_t chunk[8];
        if (source.ReadAt(pos, chunk, 8) != 8)
            return false;
        const uint64_t body = pos + 8, left = size - body;
        uint64_t chunkSize = Be32(chunk + 4);
        if (memcmp(chunk, "COMM", 4) == 0 && !haveComm) {
            uint8_t comm[22] = {};
            const uint32_t n = static_cast<uint32_t>(std::min<uint64_t>({chunkSize, left, sizeof comm}));
            if (source.ReadAt(body, comm, n) != n || !ParseComm(comm, n, compressed, &f))
                return false;
            haveComm = true;
        } else if (memcmp(chunk, "SSND", 4) == 0 && !haveSound) {
            uint8_t offset[4];
            if (chunkSize > left)
                chunkSize = left;
            if (chunkSize < 8 || source.ReadAt(body, offset, 4) != 4 || Be32(offset) > chunkSize - 8)
                return false;
            f.dataOffset = body + 8 + Be32(offset);
            soundBytes = chunkSize - 8 - Be32(offset);
            haveSound = true;
        } else if (chunkSize > left) {
            break;
        }
        pos = body + chunkSize + (chunkSize & 1);
    }
    if (!haveComm || !haveSound)
        return false;
    f.frames = std::min(f.frames, soundBytes / f.BlockAlign());
    if (f.frames == 0)
        return false;
    *format = f;
    return true;
}

float SampleAt(const uint8_t* p, Coding coding, uint32_t bytes)
{
    if (coding == Coding::Float) {
        double v;
        if (bytes == 4) {
            const uint32_t u = Be32(p);
            float x;
            memcpy(&x, &u, 4);
            v = x;
        } else {
            const uint64_t u = static_cast<uint64_t>(Be32(p)) << 32 | Be32(p + 4);
            memcpy(&v, &u, 8);
        }
        // NaN, infinity or a number beyond float's range from a damaged
        // file must not reach the mixer.
        return std::isfinite(v) && std::fabs(v) <= FLT_MAX ? static_cast<float>(v) : 0.0f;
    }
    // Samples are left-justified in their bytes: laid into the top of 32
    // bits, every depth scales alike (AIFF's 8-bit samples are signed).
    uint32_t u = 0;
    for (uint32_t i = 0; i < bytes; ++i)
        u |= static_cast<uint32_t>(p[coding == Coding::BigInteger ? i : bytes - 1 - i]) << (24 - 8 * i);
    return static_cast<int32_t>(u) * (1.0f / 2147483648.0f);
}

class AiffDecoder : public Decoder {
public:
    AiffDecoder(std::unique_ptr<ByteSource> source, const AiffFormat& f, uint64_t base)
        : source_(std::move(source)), format_(f), base_(base), block_(f.BlockAlign())
    {
        WavFormat layout;
        layout.channels = static_cast<uint16_t>(f.channels);
        WavStereoGains(layout, gains_);
        chunkFrames_ = kChunkBytes / block_;
        if (!source_->Data())
            raw_.resize(chunkFrames_ * block_);
    }
    uint32_t SampleRate() const override { return format_.rate; }
    uint32_t FileChannels() const override { return format_.channels; }
    uint64_t LengthFrames() const override { return format_.frames; }
    bool InMemory() const override { return source_->Data() != nullptr; }

    size_t Read(float* stereo, size_t frames) override
    {
        size_t done = 0;
        while (done < frames && position_ < format_.frames) {
            size_t n =
                static_cast<size_t>(std::min<uint64_t>({frames - done, chunkFrames_, format_.frames - position_}));
            const uint64_t offset = base_ + position_ * block_;
            const uint8_t* bytes = source_->Data();
            if (bytes) {
                bytes += offset;
            } else {
                // A short read (file cut while playing) ends the audio there.
                n = source_->ReadAt(offset, raw_.data(), n * block_) / block_;
                if (n == 0)
                    break;
                bytes = raw_.data();
            }
            Convert(bytes, n, stereo + 2 * done);
            done += n;
            position_ += n;
        }
        return done;
    }

    bool Seek(uint64_t frame) override
    {
        if (frame >= format_.frames)
            return false;
        position_ = frame;
        return true;
    }

private:
    static constexpr size_t kChunkBytes = 64 * 1024;

    void Convert(const uint8_t* p, size_t frames, float* out) const
    {
        const uint32_t n = format_.channels, bytes = format_.sampleBytes;
        for (size_t i = 0; i < frames; ++i, p += block_, out += 2) {
            if (n <= 2) {
                out[0] = SampleAt(p, format_.coding, bytes);
                out[1] = n == 2 ? SampleAt(p + bytes, format_.coding, bytes) : out[0];
                continue;
            }
            float l = 0, r = 0;
            for (uint32_t c = 0; c < n; ++c) {
                const float v = SampleAt(p + c * bytes, format_.coding, bytes);
                l += v * gains_[c][0];
                r += v * gains_[c][1];
            }
            // Channels near float's limit may sum past it.
            out[0] = std::isfinite(l) ? l : 0.0f;
            out[1] = std::isfinite(r) ? r : 0.0f;
        }
    }

    std::unique_ptr<ByteSource> source_;
    AiffFormat format_;
    uint64_t base_;
    uint32_t block_;
    size_t chunkFrames_;
    float gains_[kWavMaxChannels][2];
    std::vector<uint8_t> raw_;
    uint64_t position_ = 0;
};

} // namespace

std::unique_ptr<Decoder> OpenAiff(std::unique_ptr<ByteSource> source, uint64_t memoryBytes)
{
    AiffFormat f;
    if (!source || !ParseAiff(*source, &f))
        return nullptr;
    const uint64_t dataBytes = f.frames * f.BlockAlign();
    if (!source->Data() && dataBytes <= memoryBytes) {
        auto memory = LoadIntoMemory(*source, f.dataOffset, dataBytes);
        if (!memory)
            return nullptr;
        return std::make_unique<AiffDecoder>(std::move(memory), f, 0);
    }
    return std::make_unique<AiffDecoder>(std::move(source), f, f.dataOffset);
}

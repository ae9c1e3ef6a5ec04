#include "aiff.h"

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

// How an AIFF file's samples differ from a WAV file's: byte order, and the
// sign of 8-bit samples (signed in AIFF, offset in WAV).
struct AiffFormat {
    WavFormat wav; // channels, rate, frames and where the samples lie
    bool swapped = true;
    bool signed8 = false;
    uint32_t SampleBytes() const { return wav.bitsPerSample / 8u; }
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
    WavFormat& w = f->wav;
    w.channels = Be16(p);
    w.frames = Be32(p + 2);
    const uint32_t bits = Be16(p + 6);
    w.sampleRate = ExtendedRate(p + 8);
    const char* type = compressed ? reinterpret_cast<const char*>(p + 18) : "NONE";
    const bool little = !memcmp(type, "sowt", 4);
    if (little || !memcmp(type, "NONE", 4) || !memcmp(type, "twos", 4) || !memcmp(type, "in24", 4) ||
        !memcmp(type, "in32", 4)) {
        // Fewer bits than their bytes hold are left-justified, as in WAV.
        if (bits < 1 || bits > 32)
            return false;
        w.encoding = WavPcm;
        w.bitsPerSample = static_cast<uint16_t>((bits + 7) / 8 * 8);
        f->swapped = !little;
        f->signed8 = w.bitsPerSample == 8;
    } else if (!memcmp(type, "fl32", 4) || !memcmp(type, "FL32", 4)) {
        w.encoding = WavFloat;
        w.bitsPerSample = 32;
    } else if (!memcmp(type, "fl64", 4) || !memcmp(type, "FL64", 4)) {
        w.encoding = WavFloat;
        w.bitsPerSample = 64;
    } else {
        return false;
    }
    w.blockAlign = static_cast<uint16_t>(w.BlockAlign());
    return w.channels != 0 && w.channels <= kWavMaxChannels && w.sampleRate != 0;
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
            f.wav.dataOffset = body + 8 + Be32(offset);
            soundBytes = chunkSize - 8 - Be32(offset);
            haveSound = true;
        } else if (chunkSize > left) {
            break;
        }
        pos = body + chunkSize + (chunkSize & 1);
    }
    if (!haveComm || !haveSound)
        return false;
    f.wav.frames = std::min(f.wav.frames, soundBytes / f.wav.BlockAlign());
    f.wav.dataBytes = f.wav.frames * f.wav.BlockAlign();
    if (f.wav.frames == 0)
        return false;
    *format = f;
    return true;
}

// Turns whole samples into WAV's layout: little-endian, 8-bit ones offset.
void ToWavLayout(uint8_t* p, size_t n, const AiffFormat& f)
{
    const uint32_t bytes = f.SampleBytes();
    for (size_t i = 0; i + bytes <= n; i += bytes) {
        if (f.swapped)
            std::reverse(p + i, p + i + bytes);
        if (f.signed8)
            p[i] ^= 0x80;
    }
}

// The sound data of a file too large to hold, in WAV's layout as it is
// read: the WAV decoder reads whole samples.
class WavLayoutView : public ByteSource {
public:
    WavLayoutView(std::unique_ptr<ByteSource> file, const AiffFormat& f) : file_(std::move(file)), format_(f) {}
    uint64_t Size() const override { return format_.wav.dataBytes; }
    size_t ReadAt(uint64_t offset, void* buffer, size_t n) override
    {
        if (offset >= Size())
            return 0;
        n = static_cast<size_t>(std::min<uint64_t>(n, Size() - offset));
        const size_t got = file_->ReadAt(format_.wav.dataOffset + offset, buffer, n);
        ToWavLayout(static_cast<uint8_t*>(buffer), got, format_);
        return got;
    }

private:
    std::unique_ptr<ByteSource> file_;
    AiffFormat format_;
};

} // namespace

std::unique_ptr<Decoder> OpenAiff(std::unique_ptr<ByteSource> source, uint64_t memoryBytes)
{
    AiffFormat f;
    if (!source || !ParseAiff(*source, &f))
        return nullptr;
    WavFormat samples = f.wav;
    samples.dataOffset = 0;
    if (f.wav.dataBytes > memoryBytes)
        return OpenWavSamples(std::make_unique<WavLayoutView>(std::move(source), f), samples);
    std::vector<uint8_t> bytes(static_cast<size_t>(f.wav.dataBytes));
    if (source->ReadAt(f.wav.dataOffset, bytes.data(), bytes.size()) != bytes.size())
        return nullptr;
    ToWavLayout(bytes.data(), bytes.size(), f);
    return OpenWavSamples(MemorySource(std::move(bytes)), samples);
}

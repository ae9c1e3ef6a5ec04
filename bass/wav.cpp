#include "wav.h"

#include <cfloat>
#include <cmath>
#include <cstring>
#include <vector>

namespace {

constexpr uint16_t kFormatPcm = 1;
constexpr uint16_t kFormatFloat = 3;
constexpr uint16_t kFormatExtensible = 0xFFFE;
// Bytes 2..15 shared by the KSDATAFORMAT_SUBTYPE GUIDs of PCM and float.
constexpr uint8_t kSubtypeTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                      0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

uint16_t Le16(const uint8_t* p)
{
    return static_cast<uint16_t>(p[0] | (p[1] << 8));
}
uint32_t Le32(const uint8_t* p)
{
    return p[0] | (p[1] << 8) | (p[2] << 16) | (static_cast<uint32_t>(p[3]) << 24);
}

constexpr uint16_t kFormatMsAdpcm = 2;
constexpr uint16_t kFormatALaw = 6;
constexpr uint16_t kFormatMuLaw = 7;
constexpr uint16_t kFormatImaAdpcm = 0x11;

// The codings of old sample packs, the only ones handed to the system's
// codecs: any other tag would reach whatever codec claims it (GSM, MPEG
// layer 3, a codec some program installed), which then parses a
// stranger's header and data inside this elevated process.
bool IsCodecTag(uint16_t tag)
{
    return tag == kFormatMsAdpcm || tag == kFormatALaw || tag == kFormatMuLaw || tag == kFormatImaAdpcm;
}

// Those codings, checked as their codecs lay out a block: a codec may
// trust the header and divide by what it says (Wine's ADPCM codecs do).
// `h`: the header the codec gets, its codec bytes after the cbSize.
bool CodingHolds(const std::vector<uint8_t>& h, const WavFormat& f)
{
    const unsigned ch = f.channels, align = f.blockAlign;
    const size_t extra = h.size() - 18;
    switch (f.formatTag) {
    case kFormatALaw:
    case kFormatMuLaw:
        return f.bitsPerSample == 8 && align == ch;
    case kFormatImaAdpcm:
        // A 4-byte header with one sample per channel, then 4 bits a sample.
        return ch <= 2 && f.bitsPerSample == 4 && extra >= 2 && align > 4 * ch &&
               Le16(&h[18]) == (align - 4 * ch) * 2 / ch + 1;
    case kFormatMsAdpcm:
        // A 7-byte header with two samples per channel; at least the 7
        // standard coefficient pairs, all inside the header.
        return ch <= 2 && f.bitsPerSample == 4 && extra >= 4 && align > 7 * ch &&
               Le16(&h[18]) == (align - 7 * ch) * 2 / ch + 2 && Le16(&h[20]) >= 7 && 4u + 4u * Le16(&h[20]) <= extra;
    default:
        return false;
    }
}

// The codec's header: the WAVEFORMATEX fields with `tag`, a cbSize, and
// the coding's own bytes after it.
std::vector<uint8_t> CodecHeader(const uint8_t* p, uint16_t tag, const uint8_t* codecBytes, size_t n)
{
    std::vector<uint8_t> h(p, p + 16);
    h[0] = static_cast<uint8_t>(tag);
    h[1] = static_cast<uint8_t>(tag >> 8);
    h.push_back(static_cast<uint8_t>(n));
    h.push_back(static_cast<uint8_t>(n >> 8));
    h.insert(h.end(), codecBytes, codecBytes + n);
    return h;
}

// One of the codings above, for the system's codecs. Its header must lie
// inside the fmt chunk: `p` holds the chunk's first `size` bytes, all of
// it for a chunk of up to kWavMaxFmtBytes. An extensible header carries
// its coding's samples per block where PCM has its valid bits, and the
// rest of the coding's bytes after the subformat; a plain one, all of
// them after the cbSize.
bool ParseCoded(const uint8_t* p, uint32_t size, uint64_t chunkSize, bool extensible, WavFormat* f)
{
    if (chunkSize > kWavMaxFmtBytes || f->blockAlign == 0)
        return false;
    const uint16_t cbSize = size >= 18 ? Le16(p + 16) : 0;
    if (18u + cbSize > size && size >= 18)
        return false;
    std::vector<uint8_t> header;
    if (!extensible) {
        header = CodecHeader(p, f->formatTag, p + 18, cbSize);
    } else if (f->formatTag == kFormatALaw || f->formatTag == kFormatMuLaw) {
        header = CodecHeader(p, f->formatTag, nullptr, 0);
    } else {
        std::vector<uint8_t> bytes(p + 18, p + 20);
        bytes.insert(bytes.end(), p + 40, p + 18 + cbSize);
        header = CodecHeader(p, f->formatTag, bytes.data(), bytes.size());
    }
    f->encoding = WavCoded;
    if (f->channels == 0 || f->channels > kWavMaxChannels || f->sampleRate < kWavMinRate ||
        f->sampleRate > kWavMaxRate || !CodingHolds(header, *f))
        return false;
    f->codecHeader = std::move(header);
    return true;
}

// `p`: the first `size` bytes of a chunk of `chunkSize`; the whole chunk
// when it is at most kWavMaxFmtBytes long, else at least 40 bytes of it.
bool ParseFmt(const uint8_t* p, uint32_t size, uint64_t chunkSize, WavFormat* f)
{
    if (size < 16)
        return false;
    uint16_t tag = Le16(p);
    f->formatTag = tag;
    f->channels = Le16(p + 2);
    f->sampleRate = Le32(p + 4);
    uint16_t blockAlign = Le16(p + 12);
    f->blockAlign = blockAlign;
    f->bitsPerSample = Le16(p + 14);
    f->channelMask = 0;
    if (IsCodecTag(tag))
        return ParseCoded(p, size, chunkSize, false, f);
    if (tag != kFormatPcm && tag != kFormatFloat && tag != kFormatExtensible)
        return false;
    if (tag == kFormatExtensible) {
        if (size < 40 || Le16(p + 16) < 22)
            return false;
        f->channelMask = Le32(p + 20);
        if (memcmp(p + 26, kSubtypeTail, sizeof kSubtypeTail) != 0)
            return false;
        tag = Le16(p + 24);
        if (IsCodecTag(tag)) {
            f->formatTag = tag;
            return ParseCoded(p, size, chunkSize, true, f);
        }
    }
    if (tag == kFormatPcm) {
        f->encoding = WavPcm;
        if (f->bitsPerSample != 8 && f->bitsPerSample != 16 && f->bitsPerSample != 24 && f->bitsPerSample != 32)
            return false;
    } else if (tag == kFormatFloat) {
        f->encoding = WavFloat;
        if (f->bitsPerSample != 32 && f->bitsPerSample != 64)
            return false;
    } else {
        return false;
    }
    if (f->channels == 0 || f->channels > kWavMaxChannels)
        return false;
    if (f->sampleRate < kWavMinRate || f->sampleRate > kWavMaxRate)
        return false;
    // A block alignment that disagrees with the sample layout means we would
    // read the frames wrongly.
    return blockAlign == f->BlockAlign();
}

} // namespace

bool ParseWav(ByteSource& source, WavFormat* format)
{
    const uint64_t size = source.Size();
    uint8_t head[12];
    if (source.ReadAt(0, head, 12) != 12)
        return false;
    if (memcmp(head, "RIFF", 4) != 0 || memcmp(head + 8, "WAVE", 4) != 0)
        return false;

    // The RIFF size is not trusted: writers that stream often leave it 0 or
    // 0xFFFFFFFF. Chunks are walked up to the real end of the file.
    WavFormat f;
    bool haveFmt = false, haveData = false;
    uint64_t dataBytes = 0;
    uint64_t pos = 12;
    while (pos + 8 <= size && !(haveFmt && haveData)) {
        uint8_t chunk[8];
        if (source.ReadAt(pos, chunk, 8) != 8)
            return false;
        const uint64_t body = pos + 8;
        uint64_t chunkSize = Le32(chunk + 4);
        const uint64_t left = size - body;
        if (memcmp(chunk, "fmt ", 4) == 0 && !haveFmt) {
            if (chunkSize > left)
                return false;
            // Whole up to the size a coding's header may have; of a longer
            // one (PCM with padding) only what PCM reads.
            uint8_t fmt[kWavMaxFmtBytes] = {};
            uint32_t n = chunkSize <= kWavMaxFmtBytes ? static_cast<uint32_t>(chunkSize) : 40;
            if (source.ReadAt(body, fmt, n) != n || !ParseFmt(fmt, n, chunkSize, &f))
                return false;
            f.fmtOffset = body;
            f.fmtBytes = n;
            haveFmt = true;
        } else if (memcmp(chunk, "data", 4) == 0 && !haveData) {
            // A size that lies (larger than the file, or 0xFFFFFFFF from a
            // writer that never came back to fix it) means "up to the end".
            if (chunkSize > left)
                chunkSize = left;
            f.dataOffset = body;
            dataBytes = chunkSize;
            haveData = true;
        } else if (chunkSize > left) {
            break;
        }
        pos = body + chunkSize + (chunkSize & 1);
    }
    if (!haveFmt || !haveData)
        return false;
    f.dataBytes = dataBytes;
    if (f.encoding == WavCoded) {
        // At least one whole block for the codec.
        if (dataBytes < f.blockAlign)
            return false;
        *format = f;
        return true;
    }
    f.frames = dataBytes / f.BlockAlign();
    if (f.frames == 0)
        return false;
    *format = f;
    return true;
}

void WavStereoGains(const WavFormat& format, float gains[][2])
{
    const unsigned n = format.channels;
    if (n == 1) {
        gains[0][0] = gains[0][1] = 1.0f;
        return;
    }
    if (n == 2) {
        gains[0][0] = 1;
        gains[0][1] = 0;
        gains[1][0] = 0;
        gains[1][1] = 1;
        return;
    }
    constexpr float h = 0.70710678f;
    // Gains of the speaker positions in the order of the channel-mask bits.
    static const float kSpeaker[18][2] = {{1, 0},       {0, 1},       {h, h},       {0, 0}, {h, 0},
                                          {0, h}, // FL FR FC LFE BL BR
                                          {1, 0},       {0, 1},       {0.5f, 0.5f}, {h, 0}, {0, h}, // FLC FRC BC SL SR
                                          {0.5f, 0.5f}, {h, 0},       {0.5f, 0.5f}, {0, h},         // TC TFL TFC TFR
                                          {h, 0},       {0.5f, 0.5f}, {0, h}};                      // TBL TBC TBR
    static const uint32_t kUsualMask[9] = {0, 0x4, 0x3, 0x7, 0x33, 0x37, 0x3F, 0x13F, 0x63F};
    uint32_t mask = format.channelMask;
    if (mask == 0 && n < 9)
        mask = kUsualMask[n];
    unsigned bit = 0, unplaced = 0;
    for (unsigned c = 0; c < n; ++c) {
        while (bit < 18 && !(mask & (1u << bit)))
            ++bit;
        if (bit < 18) {
            gains[c][0] = kSpeaker[bit][0];
            gains[c][1] = kSpeaker[bit][1];
            ++bit;
        } else {
            gains[c][0] = (unplaced % 2 == 0) ? h : 0;
            gains[c][1] = (unplaced % 2 == 0) ? 0 : h;
            ++unplaced;
        }
    }
    for (int side = 0; side < 2; ++side) {
        float sum = 0;
        for (unsigned c = 0; c < n; ++c)
            sum += gains[c][side];
        if (sum > 1)
            for (unsigned c = 0; c < n; ++c)
                gains[c][side] /= sum;
    }
}

namespace {

float SampleAt(const uint8_t* p, WavEncoding encoding, unsigned bits)
{
    if (encoding == WavFloat) {
        double v;
        if (bits == 32) {
            uint32_t u = Le32(p);
            float x;
            memcpy(&x, &u, 4);
            v = x;
        } else {
            uint64_t u = Le32(p) | (static_cast<uint64_t>(Le32(p + 4)) << 32);
            memcpy(&v, &u, 8);
        }
        // NaN, infinity or a double beyond float's range from a damaged
        // file must not reach the mixer.
        return std::isfinite(v) && std::fabs(v) <= FLT_MAX ? static_cast<float>(v) : 0.0f;
    }
    switch (bits) {
    case 8:
        return (p[0] - 128) * (1.0f / 128);
    case 16:
        return static_cast<int16_t>(Le16(p)) * (1.0f / 32768);
    case 24:
        return static_cast<int32_t>(static_cast<uint32_t>(p[0]) << 8 | static_cast<uint32_t>(p[1]) << 16 |
                                    static_cast<uint32_t>(p[2]) << 24) *
               (1.0f / 2147483648.0f);
    default:
        return static_cast<int32_t>(Le32(p)) * (1.0f / 2147483648.0f);
    }
}

class WavDecoder : public Decoder {
public:
    WavDecoder(std::unique_ptr<ByteSource> source, const WavFormat& f, uint64_t base)
        : source_(std::move(source)), format_(f), base_(base), block_(f.BlockAlign())
    {
        WavStereoGains(f, gains_);
        chunkFrames_ = kChunkBytes / block_;
        if (!source_->Data())
            raw_.resize(chunkFrames_ * block_);
    }
    uint32_t SampleRate() const override { return format_.sampleRate; }
    uint32_t FileChannels() const override { return format_.channels; }
    uint64_t LengthFrames() const override { return format_.frames; }
    bool InMemory() const override { return source_->Data() != nullptr; }

    size_t Read(float* stereo, size_t frames) override
    {
        size_t done = 0;
        while (done < frames && position_ < format_.frames) {
            size_t n = frames - done;
            if (n > chunkFrames_)
                n = chunkFrames_;
            if (n > format_.frames - position_)
                n = static_cast<size_t>(format_.frames - position_);
            const uint64_t offset = base_ + position_ * block_;
            const uint8_t* bytes = source_->Data();
            if (bytes) {
                bytes += offset;
            } else {
                // A short read (file cut while playing) ends the audio there.
                size_t got = source_->ReadAt(offset, raw_.data(), n * block_) / block_;
                if (got == 0)
                    break;
                n = got;
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
        const unsigned n = format_.channels, bytes = format_.bitsPerSample / 8;
        if (format_.encoding == WavPcm && bytes == 2 && n <= 2) {
            for (size_t i = 0; i < frames; ++i, p += block_, out += 2) {
                out[0] = static_cast<int16_t>(Le16(p)) * (1.0f / 32768);
                out[1] = n == 2 ? static_cast<int16_t>(Le16(p + 2)) * (1.0f / 32768) : out[0];
            }
            return;
        }
        for (size_t i = 0; i < frames; ++i, p += block_, out += 2) {
            float l = 0, r = 0;
            for (unsigned c = 0; c < n; ++c) {
                float v = SampleAt(p + c * bytes, format_.encoding, format_.bitsPerSample);
                l += v * gains_[c][0];
                r += v * gains_[c][1];
            }
            // Float channels near float's limit may sum past it.
            out[0] = std::isfinite(l) ? l : 0.0f;
            out[1] = std::isfinite(r) ? r : 0.0f;
        }
    }

    std::unique_ptr<ByteSource> source_;
    WavFormat format_;
    uint64_t base_;
    uint32_t block_;
    size_t chunkFrames_;
    float gains_[kWavMaxChannels][2];
    std::vector<uint8_t> raw_;
    uint64_t position_ = 0;
};

} // namespace

std::unique_ptr<Decoder> OpenWav(std::unique_ptr<ByteSource> source, uint64_t memoryBytes)
{
    if (!source)
        return nullptr;
    WavFormat f;
    if (!ParseWav(*source, &f) || f.encoding == WavCoded)
        return nullptr;
    const uint64_t dataBytes = f.frames * f.BlockAlign();
    if (!source->Data() && dataBytes <= memoryBytes) {
        auto memory = LoadIntoMemory(*source, f.dataOffset, dataBytes);
        if (!memory)
            return nullptr;
        return std::make_unique<WavDecoder>(std::move(memory), f, 0);
    }
    return std::make_unique<WavDecoder>(std::move(source), f, f.dataOffset);
}

std::unique_ptr<Decoder> OpenPcm16(std::vector<uint8_t> pcm, uint16_t channels, uint32_t sampleRate, DecodedBytes held)
{
    WavFormat f;
    f.encoding = WavPcm;
    f.formatTag = kFormatPcm;
    f.channels = channels;
    f.bitsPerSample = 16;
    f.sampleRate = sampleRate;
    f.blockAlign = static_cast<uint16_t>(f.BlockAlign());
    f.dataBytes = pcm.size();
    if (channels == 0 || channels > kWavMaxChannels || sampleRate < kWavMinRate || sampleRate > kWavMaxRate)
        return nullptr;
    f.frames = pcm.size() / f.BlockAlign();
    if (f.frames == 0)
        return nullptr;
    return std::make_unique<WavDecoder>(MemorySource(std::move(pcm), std::move(held)), f, 0);
}

std::unique_ptr<Decoder> OpenWavSamples(std::unique_ptr<ByteSource> samples, const WavFormat& f)
{
    const bool pcm = f.encoding == WavPcm &&
                     (f.bitsPerSample == 8 || f.bitsPerSample == 16 || f.bitsPerSample == 24 || f.bitsPerSample == 32);
    const bool floats = f.encoding == WavFloat && (f.bitsPerSample == 32 || f.bitsPerSample == 64);
    if (!samples || !(pcm || floats) || f.channels == 0 || f.channels > kWavMaxChannels || f.sampleRate < kWavMinRate ||
        f.sampleRate > kWavMaxRate || f.frames == 0 || f.dataOffset > samples->Size() ||
        f.frames > (samples->Size() - f.dataOffset) / f.BlockAlign())
        return nullptr;
    return std::make_unique<WavDecoder>(std::move(samples), f, f.dataOffset);
}

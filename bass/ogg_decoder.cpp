#include "ogg_decoder.h"

#include <algorithm>
#include <climits>
#include <cmath>
#include <cstring>
#include <vector>

#include "decoded_audio.h"
#include "wav.h"

// stb_vorbis's own code, compiled here once; its warnings are its own.
#pragma GCC diagnostic push
#if !defined(__clang__)
#pragma GCC diagnostic ignored "-Wmaybe-uninitialized"
#endif
#include YXYT_STB_VORBIS
#pragma GCC diagnostic pop

namespace {

// Files larger than this are not taken for drum samples or music; the
// library takes the bytes as an int.
constexpr uint64_t kMaxFileBytes = 256u << 20;
constexpr int kChunkFrames = 1024;
// A stereo file's setup takes about 200 KB, eight channels' about 300 KB.
constexpr int kFirstArenaBytes = 512 << 10;
constexpr int kMostArenaBytes = 8 << 20;

// WAV's channel position of each Vorbis channel, for 3 to 8 channels (the
// Vorbis order: L C R for three, then backs or sides, LFE last).
const uint8_t kWavPlaceOf[9][8] = {
    {},
    {},
    {},
    {0, 2, 1},
    {0, 1, 2, 3},
    {0, 2, 1, 3, 4},
    {0, 2, 1, 4, 5, 3},
    {0, 2, 1, 4, 5, 6, 3},
    {0, 2, 1, 6, 7, 4, 5, 3},
};

uint32_t Le32(const uint8_t* p)
{
    return p[0] | p[1] << 8 | p[2] << 16 | static_cast<uint32_t>(p[3]) << 24;
}

// The comment header: its vendor text and comments, each a length and the
// text, must lie inside the packet.
bool CommentsFit(const std::vector<uint8_t>& packet)
{
    if (packet.size() < 11 || packet[0] != 3 || memcmp(packet.data() + 1, "vorbis", 6) != 0)
        return false;
    size_t pos = 7;
    auto text = [&] {
        if (packet.size() - pos < 4 || Le32(&packet[pos]) > packet.size() - pos - 4)
            return false;
        pos += 4 + Le32(&packet[pos]);
        return true;
    };
    if (!text() || packet.size() - pos < 4)
        return false;
    const uint32_t comments = Le32(&packet[pos]);
    pos += 4;
    for (uint32_t i = 0; i < comments; ++i)
        if (!text())
            return false;
    return true;
}

// stb_vorbis 1.22 copies the comment header by the lengths it states,
// unchecked: a hostile file would write past its buffers. As stb_vorbis
// reads a file, the first page holds the identification header alone and
// the comment header starts the second page; it is checked first.
bool CommentHeaderHolds(const uint8_t* p, size_t size)
{
    std::vector<uint8_t> packet;
    size_t pos = 0;
    for (int page = 0; pos + 27 <= size; ++page) {
        const unsigned segments = p[pos + 26];
        const bool continued = p[pos + 5] & 1;
        if (memcmp(p + pos, "OggS", 4) != 0 || pos + 27 + segments > size || continued != (page > 1))
            return false;
        const uint8_t* lacing = p + pos + 27;
        size_t body = pos + 27 + segments;
        for (unsigned s = 0; s < segments; ++s) {
            if (body + lacing[s] > size)
                return false;
            const bool ends = lacing[s] < 255;
            if (page == 0 && ends != (s + 1 == segments))
                return false;
            if (page > 0)
                packet.insert(packet.end(), p + body, p + body + lacing[s]);
            body += lacing[s];
            if (page > 0 && ends)
                return CommentsFit(packet);
        }
        pos = body;
    }
    return false;
}

class VorbisDecoder : public Decoder {
public:
    explicit VorbisDecoder(std::unique_ptr<ByteSource> bytes) : bytes_(std::move(bytes)) {}
    ~VorbisDecoder() override
    {
        if (vorbis_)
            stb_vorbis_close(vorbis_);
    }

    bool Open()
    {
        if (!CommentHeaderHolds(bytes_->Data(), static_cast<size_t>(bytes_->Size())))
            return false;
        // stb_vorbis takes all its memory from an arena of ours: a hostile
        // setup header asks for no more than the arena's bound, and what a
        // failed open leaves behind goes with the arena.
        for (int bytes = kFirstArenaBytes;; bytes *= 2) {
            arena_.reset(new char[bytes]);
            stb_vorbis_alloc alloc = {arena_.get(), bytes};
            int error = 0;
            vorbis_ = stb_vorbis_open_memory(bytes_->Data(), static_cast<int>(bytes_->Size()), &error, &alloc);
            if (vorbis_)
                break;
            if (error != VORBIS_outofmem || bytes >= kMostArenaBytes)
                return false;
        }
        // stb_vorbis mis-decodes channels split over several submaps, as
        // libvorbis lays out 5.1 (the LFE apart): such a stream is refused
        // rather than played as noise.
        for (int m = 0; m < vorbis_->mapping_count; ++m)
            if (vorbis_->mapping[m].submaps > 1)
                return false;
        const stb_vorbis_info info = stb_vorbis_get_info(vorbis_);
        rate_ = info.sample_rate;
        channels_ = static_cast<uint32_t>(info.channels);
        if (channels_ == 0 || channels_ > kWavMaxChannels || rate_ < kWavMinRate || rate_ > kWavMaxRate)
            return false;
        WavFormat layout;
        layout.channels = static_cast<uint16_t>(channels_);
        float wav[kWavMaxChannels][2];
        WavStereoGains(layout, wav);
        for (uint32_t c = 0; c < channels_; ++c) {
            const uint32_t place = channels_ >= 3 && channels_ <= 8 ? kWavPlaceOf[channels_][c] : c;
            gains_[c][0] = wav[place][0];
            gains_[c][1] = wav[place][1];
        }
        planes_.resize(channels_ * kChunkFrames);
        for (uint32_t c = 0; c < channels_; ++c)
            planePointers_[c] = planes_.data() + c * kChunkFrames;
        // The last page's position: a file without one is counted.
        length_ = stb_vorbis_stream_length_in_samples(vorbis_);
        if (length_ == 0) {
            length_ = CountFrames();
            if (!Rewind())
                return false;
        }
        return length_ > 0;
    }

    uint32_t SampleRate() const override { return rate_; }
    uint32_t FileChannels() const override { return channels_; }
    uint64_t LengthFrames() const override { return length_; }

    size_t Read(float* stereo, size_t frames) override
    {
        size_t done = 0;
        while (done < frames && position_ < length_) {
            const int want =
                static_cast<int>(std::min<uint64_t>({uint64_t(kChunkFrames), frames - done, length_ - position_}));
            const int got = stb_vorbis_get_samples_float(vorbis_, static_cast<int>(channels_), planePointers_, want);
            if (got <= 0)
                break;
            MixDown(got, stereo + 2 * done);
            done += static_cast<size_t>(got);
            position_ += static_cast<uint64_t>(got);
        }
        return done;
    }

    bool Seek(uint64_t frame) override
    {
        if (frame >= length_ || frame > UINT_MAX)
            return false;
        if (frame == 0)
            return Rewind();
        // To the start of the packet that holds the frame, then the rest by
        // decoding: stb_vorbis's own sample seek trusts the file too far.
        if (stb_vorbis_seek_frame(vorbis_, static_cast<unsigned>(frame))) {
            const int at = stb_vorbis_get_sample_offset(vorbis_);
            if (at >= 0 && static_cast<uint64_t>(at) <= frame) {
                position_ = static_cast<uint64_t>(at);
                return Skip(frame);
            }
        }
        return Rewind() && Skip(frame);
    }

private:
    void MixDown(int frames, float* out) const
    {
        for (int i = 0; i < frames; ++i) {
            float l = 0, r = 0;
            for (uint32_t c = 0; c < channels_; ++c) {
                const float v = planes_[c * kChunkFrames + i];
                l += v * gains_[c][0];
                r += v * gains_[c][1];
            }
            // A damaged packet may decode to non-numbers; the mixer must not see them.
            out[2 * i] = std::isfinite(l) ? l : 0.0f;
            out[2 * i + 1] = std::isfinite(r) ? r : 0.0f;
        }
    }

    bool Rewind()
    {
        position_ = 0;
        return stb_vorbis_seek_start(vorbis_) != 0;
    }

    bool Skip(uint64_t frame)
    {
        float scratch[2 * kChunkFrames];
        while (position_ < frame)
            if (Read(scratch, static_cast<size_t>(std::min<uint64_t>(kChunkFrames, frame - position_))) == 0)
                return false;
        return true;
    }

    uint64_t CountFrames()
    {
        uint64_t total = 0;
        for (int n; (n = stb_vorbis_get_frame_float(vorbis_, nullptr, nullptr)) > 0;)
            total += static_cast<uint64_t>(n);
        return total;
    }

    std::unique_ptr<ByteSource> bytes_;
    std::unique_ptr<char[]> arena_;
    stb_vorbis* vorbis_ = nullptr;
    uint32_t rate_ = 0, channels_ = 0;
    uint64_t length_ = 0, position_ = 0;
    float gains_[kWavMaxChannels][2] = {};
    std::vector<float> planes_;
    float* planePointers_[kWavMaxChannels] = {};
};

} // namespace

std::unique_ptr<Decoder> OpenOgg(std::unique_ptr<ByteSource> source)
{
    if (!source || source->Size() == 0 || source->Size() > kMaxFileBytes)
        return nullptr;
    if (!source->Data())
        source = LoadIntoMemory(*source, 0, source->Size());
    if (!source)
        return nullptr;
    auto decoder = std::make_unique<VorbisDecoder>(std::move(source));
    if (!decoder->Open())
        return nullptr;
    return DecodeWholeIfShort(std::move(decoder));
}

#include "flac_decoder.h"

#include <FLAC/stream_decoder.h>

#include <algorithm>
#include <cmath>
#include <cstring>
#include <vector>

#include "decoded_audio.h"
#include "wav.h"

namespace {

class FlacDecoder : public Decoder {
public:
    explicit FlacDecoder(std::unique_ptr<ByteSource> source) : source_(std::move(source)) {}
    ~FlacDecoder() override
    {
        if (flac_)
            FLAC__stream_decoder_delete(flac_);
    }

    bool Open()
    {
        flac_ = FLAC__stream_decoder_new();
        if (!flac_ ||
            FLAC__stream_decoder_init_stream(flac_, ReadBytes, SeekBytes, TellBytes, LengthOfBytes, AtEnd, TakeBlock,
                                             TakeInfo, NoteError, this) != FLAC__STREAM_DECODER_INIT_STATUS_OK)
            return false;
        if (!FLAC__stream_decoder_process_until_end_of_metadata(flac_) || !info_.channels)
            return false;
        if (info_.rate < kWavMinRate || info_.rate > kWavMaxRate)
            return false;
        // FLAC's speaker order for each channel count, as `flac -d` writes
        // it into a WAV file's channel mask.
        static const uint32_t kMask[FLAC__MAX_CHANNELS + 1] = {0, 0x4, 0x3, 0x7, 0x33, 0x607, 0x60F, 0x70F, 0x63F};
        WavFormat layout;
        layout.channels = static_cast<uint16_t>(info_.channels);
        layout.channelMask = kMask[info_.channels];
        WavStereoGains(layout, gains_);
        // Streams written through a pipe leave the length out: count it.
        length_ = info_.frames ? info_.frames : CountFrames();
        return length_ > 0;
    }

    uint32_t SampleRate() const override { return info_.rate; }
    uint32_t FileChannels() const override { return info_.channels; }
    uint64_t LengthFrames() const override { return length_; }

    size_t Read(float* stereo, size_t frames) override
    {
        size_t done = 0;
        while (done < frames && position_ < length_) {
            if (blockRead_ == blockFrames_) {
                if (!NextBlock())
                    break;
                continue;
            }
            const size_t n = static_cast<size_t>(
                std::min<uint64_t>({blockFrames_ - blockRead_, frames - done, length_ - position_}));
            memcpy(stereo + 2 * done, block_.data() + 2 * blockRead_, n * 2 * sizeof(float));
            blockRead_ += n;
            done += n;
            position_ += n;
        }
        return done;
    }

    bool Seek(uint64_t frame) override
    {
        if (frame >= length_)
            return false;
        blockRead_ = blockFrames_ = 0;
        // libFLAC hands the frame holding the target over from the target on.
        if (FLAC__stream_decoder_seek_absolute(flac_, frame)) {
            position_ = frame;
            return true;
        }
        // A damaged or unindexed stream: from the start, dropping what lies before.
        return Rewind() && Skip(frame);
    }

private:
    struct Info {
        uint32_t rate = 0, channels = 0;
        uint64_t frames = 0; // 0: not stated
    };

    bool NextBlock()
    {
        blockRead_ = blockFrames_ = 0;
        while (blockFrames_ == 0) {
            if (FLAC__stream_decoder_get_state(flac_) == FLAC__STREAM_DECODER_END_OF_STREAM ||
                !FLAC__stream_decoder_process_single(flac_))
                return false;
        }
        return true;
    }

    bool Rewind()
    {
        blockRead_ = blockFrames_ = 0;
        position_ = 0;
        return FLAC__stream_decoder_reset(flac_) && FLAC__stream_decoder_process_until_end_of_metadata(flac_);
    }

    bool Skip(uint64_t frames)
    {
        float scratch[2 * 1024];
        while (position_ < frames)
            if (Read(scratch, static_cast<size_t>(std::min<uint64_t>(1024, frames - position_))) == 0)
                return false;
        return true;
    }

    uint64_t CountFrames()
    {
        counting_ = true;
        uint64_t total = 0;
        while (NextBlock())
            total += blockFrames_;
        counting_ = false;
        return Rewind() ? total : 0;
    }

    // A frame's samples as stereo floats in block_: each scaled by its bit
    // depth, then down-mixed with the WAV gains. A frame whose channel count
    // differs from the stream's is left out.
    void Take(const FLAC__FrameHeader& h, const FLAC__int32* const planes[])
    {
        if (h.channels != info_.channels || h.bits_per_sample < 4 || h.bits_per_sample > 32)
            return;
        blockFrames_ = h.blocksize;
        if (counting_)
            return;
        if (block_.size() < 2 * blockFrames_)
            block_.resize(2 * blockFrames_);
        const float scale = std::ldexp(1.0f, -static_cast<int>(h.bits_per_sample - 1));
        float* out = block_.data();
        const unsigned channels = h.channels;
        if (channels <= 2) {
            const FLAC__int32* right = planes[channels - 1];
            for (uint32_t i = 0; i < blockFrames_; ++i) {
                out[2 * i] = planes[0][i] * scale;
                out[2 * i + 1] = right[i] * scale;
            }
            return;
        }
        for (uint32_t i = 0; i < blockFrames_; ++i) {
            float l = 0, r = 0;
            for (unsigned c = 0; c < channels; ++c) {
                const float v = planes[c][i] * scale;
                l += v * gains_[c][0];
                r += v * gains_[c][1];
            }
            out[2 * i] = l;
            out[2 * i + 1] = r;
        }
    }

    static FlacDecoder& Of(void* me) { return *static_cast<FlacDecoder*>(me); }

    static FLAC__StreamDecoderReadStatus ReadBytes(const FLAC__StreamDecoder*, FLAC__byte buffer[], size_t* bytes,
                                                   void* me)
    {
        FlacDecoder& d = Of(me);
        *bytes = d.source_->ReadAt(d.cursor_, buffer, *bytes);
        d.cursor_ += *bytes;
        return *bytes ? FLAC__STREAM_DECODER_READ_STATUS_CONTINUE : FLAC__STREAM_DECODER_READ_STATUS_END_OF_STREAM;
    }
    static FLAC__StreamDecoderSeekStatus SeekBytes(const FLAC__StreamDecoder*, FLAC__uint64 offset, void* me)
    {
        if (offset > Of(me).source_->Size())
            return FLAC__STREAM_DECODER_SEEK_STATUS_ERROR;
        Of(me).cursor_ = offset;
        return FLAC__STREAM_DECODER_SEEK_STATUS_OK;
    }
    static FLAC__StreamDecoderTellStatus TellBytes(const FLAC__StreamDecoder*, FLAC__uint64* offset, void* me)
    {
        *offset = Of(me).cursor_;
        return FLAC__STREAM_DECODER_TELL_STATUS_OK;
    }
    static FLAC__StreamDecoderLengthStatus LengthOfBytes(const FLAC__StreamDecoder*, FLAC__uint64* length, void* me)
    {
        *length = Of(me).source_->Size();
        return FLAC__STREAM_DECODER_LENGTH_STATUS_OK;
    }
    static FLAC__bool AtEnd(const FLAC__StreamDecoder*, void* me) { return Of(me).cursor_ >= Of(me).source_->Size(); }
    static FLAC__StreamDecoderWriteStatus TakeBlock(const FLAC__StreamDecoder*, const FLAC__Frame* frame,
                                                    const FLAC__int32* const planes[], void* me)
    {
        Of(me).Take(frame->header, planes);
        return FLAC__STREAM_DECODER_WRITE_STATUS_CONTINUE;
    }
    static void TakeInfo(const FLAC__StreamDecoder*, const FLAC__StreamMetadata* m, void* me)
    {
        if (m->type != FLAC__METADATA_TYPE_STREAMINFO)
            return;
        Info& info = Of(me).info_;
        info.rate = m->data.stream_info.sample_rate;
        info.channels = m->data.stream_info.channels;
        info.frames = m->data.stream_info.total_samples;
    }
    // A damaged frame is skipped; libFLAC goes on at the next one.
    static void NoteError(const FLAC__StreamDecoder*, FLAC__StreamDecoderErrorStatus, void*) {}

    std::unique_ptr<ByteSource> source_;
    uint64_t cursor_ = 0;
    FLAC__StreamDecoder* flac_ = nullptr;
    Info info_;
    float gains_[FLAC__MAX_CHANNELS][2] = {};
    uint64_t length_ = 0;
    uint64_t position_ = 0;
    bool counting_ = false;
    std::vector<float> block_;
    uint32_t blockFrames_ = 0, blockRead_ = 0;
};

} // namespace

std::unique_ptr<Decoder> OpenFlac(std::unique_ptr<ByteSource> source)
{
    if (!source)
        return nullptr;
    auto decoder = std::make_unique<FlacDecoder>(std::move(source));
    if (!decoder->Open())
        return nullptr;
    return DecodeWholeIfShort(std::move(decoder));
}

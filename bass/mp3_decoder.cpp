#include "mp3_decoder.h"

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <cstring>
#include <vector>

#include "mp3_frames.h"

namespace {

// The layer III synthesis filter delays its output by 529 samples; with
// the encoder delay of a LAME tag this is where the audio really starts.
constexpr uint32_t kDecoderDelay = 529;
// Files larger than this are not taken for drum-pad music.
constexpr uint64_t kMaxFileBytes = 512u << 20;
constexpr size_t kFramesPerConvert = 4;

class Mp3Decoder : public Decoder {
public:
    ~Mp3Decoder() override { CloseStream(); }

    bool Open(std::unique_ptr<ByteSource> bytes)
    {
        bytes_ = std::move(bytes);
        if (!IndexMp3(bytes_->Data(), static_cast<size_t>(bytes_->Size()), &index_))
            return false;
        const Mp3Header& h = index_.first;
        spf_ = h.samplesPerFrame;
        uint32_t maxFrame = 0;
        for (uint32_t s : index_.sizes)
            maxFrame = std::max(maxFrame, s);
        src_.resize(maxFrame * kFramesPerConvert * 2);
        // Room for the frames fed plus what the codec may still hold back.
        dst_.resize((kFramesPerConvert + 2) * spf_ * h.channels * sizeof(int16_t));
        skip_ = index_.encoderDelay + kDecoderDelay;
        const uint64_t total = index_.Frames() * spf_;
        // The padding of a LAME tag counts the decoder delay too; without a
        // tag only the decoder delay is known.
        const uint64_t trimmed = uint64_t(skip_) + std::max(index_.encoderPadding, kDecoderDelay) - kDecoderDelay;
        length_ = total > trimmed ? total - trimmed : 0;
        return length_ > 0 && StartAt(0);
    }

    uint32_t SampleRate() const override { return index_.first.sampleRate; }
    uint32_t FileChannels() const override { return index_.first.channels; }
    uint64_t LengthFrames() const override { return length_; }

    size_t Read(float* stereo, size_t frames) override
    {
        const unsigned ch = index_.first.channels;
        size_t done = 0;
        while (done < frames && position_ < length_) {
            if (pcmRead_ == pcm_.size() / ch) {
                if (!DecodeMore())
                    break;
                continue;
            }
            size_t avail = pcm_.size() / ch - pcmRead_;
            if (discard_) {
                size_t n = static_cast<size_t>(std::min<uint64_t>(discard_, avail));
                pcmRead_ += n;
                discard_ -= n;
                continue;
            }
            size_t n = std::min({avail, frames - done, static_cast<size_t>(length_ - position_)});
            const int16_t* p = pcm_.data() + pcmRead_ * ch;
            float* out = stereo + 2 * done;
            for (size_t i = 0; i < n; ++i, p += ch, out += 2) {
                out[0] = p[0] * (1.0f / 32768);
                out[1] = p[ch - 1] * (1.0f / 32768);
            }
            pcmRead_ += n;
            done += n;
            position_ += n;
        }
        return done;
    }

    bool Seek(uint64_t frame) override
    {
        if (frame >= length_)
            return false;
        return StartAt(frame);
    }

private:
    bool OpenStream()
    {
        const Mp3Header& h = index_.first;
        MPEGLAYER3WAVEFORMAT in = {};
        in.wfx.wFormatTag = WAVE_FORMAT_MPEGLAYER3;
        in.wfx.nChannels = h.channels;
        in.wfx.nSamplesPerSec = h.sampleRate;
        in.wfx.nAvgBytesPerSec = h.bitrate / 8;
        in.wfx.nBlockAlign = 1;
        in.wfx.cbSize = MPEGLAYER3_WFX_EXTRA_BYTES;
        in.wID = MPEGLAYER3_ID_MPEG;
        in.fdwFlags = MPEGLAYER3_FLAG_PADDING_OFF;
        in.nBlockSize = static_cast<WORD>(index_.sizes[0]);
        in.nFramesPerBlock = 1;
        in.nCodecDelay = 0;
        WAVEFORMATEX out = {};
        out.wFormatTag = WAVE_FORMAT_PCM;
        out.nChannels = h.channels;
        out.nSamplesPerSec = h.sampleRate;
        out.wBitsPerSample = 16;
        out.nBlockAlign = static_cast<WORD>(h.channels * 2);
        out.nAvgBytesPerSec = h.sampleRate * out.nBlockAlign;
        if (acmStreamOpen(&stream_, nullptr, &in.wfx, &out, nullptr, 0, 0, 0) != 0) {
            stream_ = nullptr;
            return false;
        }
        memset(&header_, 0, sizeof header_);
        header_.cbStruct = sizeof header_;
        header_.pbSrc = src_.data();
        header_.cbSrcLength = static_cast<DWORD>(src_.size());
        header_.pbDst = dst_.data();
        header_.cbDstLength = static_cast<DWORD>(dst_.size());
        if (acmStreamPrepareHeader(stream_, &header_, 0) != 0) {
            acmStreamClose(stream_, 0);
            stream_ = nullptr;
            return false;
        }
        return true;
    }

    void CloseStream()
    {
        if (!stream_)
            return;
        header_.cbSrcLength = static_cast<DWORD>(src_.size());
        header_.cbDstLength = static_cast<DWORD>(dst_.size());
        acmStreamUnprepareHeader(stream_, &header_, 0);
        acmStreamClose(stream_, 0);
        stream_ = nullptr;
    }

    // Restarts decoding so that the next frame read is audio frame `frame`.
    // The codec is fed from the frame that holds the earliest main data the
    // target frame depends on; it gives one frame of output for every frame
    // fed (silence where the reservoir is missing), so the frames before the
    // target are dropped by count.
    bool StartAt(uint64_t frame)
    {
        const uint64_t sample = frame + skip_;
        const uint64_t first = FirstFrameToFeed(index_, sample / spf_);
        // The codec keeps state between frames: a fresh stream forgets it.
        CloseStream();
        if (!OpenStream())
            return false;
        nextFrame_ = first;
        pending_ = 0;
        ended_ = false;
        pcm_.clear();
        pcmRead_ = 0;
        discard_ = sample - first * spf_;
        position_ = frame;
        return true;
    }

    // Feeds the next frames to the codec; false once it has nothing more.
    bool DecodeMore()
    {
        pcm_.clear();
        pcmRead_ = 0;
        while (pcm_.empty() && stream_ && !ended_) {
            for (size_t fed = 0; fed < kFramesPerConvert && nextFrame_ < index_.Frames() &&
                                 pending_ + index_.sizes[nextFrame_] <= src_.size();
                 ++fed, ++nextFrame_) {
                memcpy(src_.data() + pending_, bytes_->Data() + index_.offsets[nextFrame_], index_.sizes[nextFrame_]);
                pending_ += index_.sizes[nextFrame_];
            }
            // After the last frame one more call drains what the codec holds.
            const bool last = nextFrame_ >= index_.Frames();
            header_.cbSrcLength = static_cast<DWORD>(pending_);
            header_.cbDstLength = static_cast<DWORD>(dst_.size());
            if (acmStreamConvert(stream_, &header_, last ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN) != 0)
                return false;
            const size_t used = std::min<size_t>(header_.cbSrcLengthUsed, pending_);
            memmove(src_.data(), src_.data() + used, pending_ - used);
            pending_ -= used;
            const size_t samples = header_.cbDstLengthUsed / sizeof(int16_t);
            const int16_t* pcm = reinterpret_cast<const int16_t*>(dst_.data());
            pcm_.assign(pcm, pcm + samples);
            if (last && (used == 0 || pending_ == 0) && samples == 0)
                ended_ = true;
            // A codec that takes nothing from a full buffer is stuck on bad data.
            if (!last && used == 0 && samples == 0 && pending_ + index_.sizes[nextFrame_] > src_.size())
                ended_ = true;
        }
        return !pcm_.empty();
    }

    std::unique_ptr<ByteSource> bytes_;
    Mp3Index index_;
    uint32_t spf_ = 1152;
    uint32_t skip_ = 0; // decoded samples before the audio starts
    uint64_t length_ = 0;
    HACMSTREAM stream_ = nullptr;
    ACMSTREAMHEADER header_ = {};
    std::vector<uint8_t> src_, dst_;
    size_t pending_ = 0;       // bytes in src_ not yet taken by the codec
    bool ended_ = false;       // the codec has given all it will
    uint64_t nextFrame_ = 0;   // next frame to feed
    std::vector<int16_t> pcm_; // decoded, interleaved at the file's channels
    size_t pcmRead_ = 0;       // frames of pcm_ already read
    uint64_t discard_ = 0;     // decoded frames to drop before `position_`
    uint64_t position_ = 0;
};

} // namespace

std::unique_ptr<Decoder> OpenMp3(std::unique_ptr<ByteSource> source)
{
    if (!source || source->Size() == 0 || source->Size() > kMaxFileBytes)
        return nullptr;
    if (!source->Data()) {
        // Frames must show up near the start (after the tags) before the
        // whole file is read: a large file of another kind is refused cheaply.
        uint8_t tag[10] = {};
        source->ReadAt(0, tag, sizeof tag);
        const uint64_t head = std::min<uint64_t>(source->Size(), Id3v2Size(tag, sizeof tag) + (1u << 20) + 8192);
        auto start = LoadIntoMemory(*source, 0, head);
        Mp3Index probe;
        if (!start || !IndexMp3(start->Data(), static_cast<size_t>(head), &probe))
            return nullptr;
        source = head == source->Size() ? std::move(start) : LoadIntoMemory(*source, 0, source->Size());
        if (!source)
            return nullptr;
    }
    auto decoder = std::make_unique<Mp3Decoder>();
    if (!decoder->Open(std::move(source)))
        return nullptr;
    return decoder;
}

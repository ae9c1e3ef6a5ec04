#include "acm_wav.h"

#include <windows.h>
#include <mmsystem.h>
#include <mmreg.h>
#include <msacm.h>

#include <algorithm>
#include <cstring>
#include <vector>

namespace {

// Decoded whole: longer files (about 12 minutes of CD audio) are refused.
constexpr size_t kMaxPcmBytes = 128u << 20;
constexpr size_t kConvertBytes = 64 * 1024;

struct Conversion {
    HACMSTREAM stream = nullptr;
    ACMSTREAMHEADER header = {};
    bool prepared = false;
    DWORD srcBytes = 0, dstBytes = 0;
    ~Conversion()
    {
        if (prepared) {
            // Unprepared with the lengths it was prepared with.
            header.cbSrcLength = srcBytes;
            header.cbDstLength = dstBytes;
            acmStreamUnprepareHeader(stream, &header, 0);
        }
        if (stream)
            acmStreamClose(stream, 0);
    }
};

// Feeds the data chunk to the codec a buffer at a time into `pcm`.
bool Decode(ByteSource& source, const WavFormat& f, Conversion& c, std::vector<uint8_t>& src, std::vector<uint8_t>& dst,
            std::vector<uint8_t>* pcm, DecodedBytes* held)
{
    uint64_t read = 0;
    size_t pending = 0;
    DWORD flags = ACM_STREAMCONVERTF_START;
    for (;;) {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(src.size() - pending, f.dataBytes - read));
        const size_t got = source.ReadAt(f.dataOffset + read, src.data() + pending, want);
        read += got;
        pending += got;
        // A file cut short ends its audio where it ends.
        const bool last = read >= f.dataBytes || got < want;
        c.header.cbSrcLength = static_cast<DWORD>(pending);
        c.header.cbDstLength = c.dstBytes;
        flags |= last ? ACM_STREAMCONVERTF_END : ACM_STREAMCONVERTF_BLOCKALIGN;
        if (acmStreamConvert(c.stream, &c.header, flags) != 0)
            return false;
        flags = 0;
        const size_t used = std::min<size_t>(c.header.cbSrcLengthUsed, pending);
        const size_t made = std::min<size_t>(c.header.cbDstLengthUsed, dst.size());
        std::memmove(src.data(), src.data() + used, pending - used);
        pending -= used;
        if (pcm->size() + made > kMaxPcmBytes)
            return false;
        held->Grow(made);
        pcm->insert(pcm->end(), dst.begin(), dst.begin() + made);
        if (last && (used == 0 || pending == 0))
            return true;
        // A codec that takes nothing of whole blocks is stuck on bad data.
        if (!last && used == 0)
            return !pcm->empty();
    }
}

} // namespace

std::unique_ptr<Decoder> OpenAcmWav(ByteSource& source, const WavFormat& f)
{
    if (f.encoding != WavCoded || f.codecHeader.size() < sizeof(WAVEFORMATEX))
        return nullptr;
    std::vector<uint8_t> wfx = f.codecHeader;
    WAVEFORMATEX* in = reinterpret_cast<WAVEFORMATEX*>(wfx.data());
    // 16-bit PCM at the file's own rate and channels, if the codec gives it.
    WAVEFORMATEX out = {};
    out.wFormatTag = WAVE_FORMAT_PCM;
    out.nChannels = in->nChannels;
    out.nSamplesPerSec = in->nSamplesPerSec;
    out.wBitsPerSample = 16;
    const DWORD suggest = ACM_FORMATSUGGESTF_WFORMATTAG | ACM_FORMATSUGGESTF_NCHANNELS |
                          ACM_FORMATSUGGESTF_NSAMPLESPERSEC | ACM_FORMATSUGGESTF_WBITSPERSAMPLE;
    if (acmFormatSuggest(nullptr, in, &out, sizeof out, suggest) != 0 || out.wFormatTag != WAVE_FORMAT_PCM ||
        out.wBitsPerSample != 16 || out.nChannels == 0)
        return nullptr;
    Conversion c;
    if (acmStreamOpen(&c.stream, nullptr, in, &out, nullptr, 0, 0, ACM_STREAMOPENF_NONREALTIME) != 0) {
        c.stream = nullptr;
        return nullptr;
    }
    // Whole blocks of the coding in each buffer.
    std::vector<uint8_t> src(std::max<size_t>(1, kConvertBytes / f.blockAlign) * f.blockAlign);
    c.srcBytes = static_cast<DWORD>(src.size());
    // A header that lies about its blocks can make the codec ask for any size.
    if (acmStreamSize(c.stream, c.srcBytes, &c.dstBytes, ACM_STREAMSIZEF_SOURCE) != 0 || c.dstBytes == 0 ||
        c.dstBytes > kMaxPcmBytes)
        return nullptr;
    std::vector<uint8_t> dst(c.dstBytes);
    c.header.cbStruct = sizeof c.header;
    c.header.pbSrc = src.data();
    c.header.cbSrcLength = c.srcBytes;
    c.header.pbDst = dst.data();
    c.header.cbDstLength = c.dstBytes;
    if (acmStreamPrepareHeader(c.stream, &c.header, 0) != 0)
        return nullptr;
    c.prepared = true;
    // Grown as the codec gives it, counted as it comes: the data chunk's
    // size says little of what its coding decodes to.
    std::vector<uint8_t> pcm;
    DecodedBytes held;
    if (!Decode(source, f, c, src, dst, &pcm, &held))
        return nullptr;
    return OpenPcm16(std::move(pcm), out.nChannels, out.nSamplesPerSec, std::move(held));
}

#include "mp3_frames.h"

#include <algorithm>
#include <cstring>

namespace {

const uint16_t kBitrateMpeg1[16] = {0, 32, 40, 48, 56, 64, 80, 96, 112, 128, 160, 192, 224, 256, 320, 0};
const uint16_t kBitrateMpeg2[16] = {0, 8, 16, 24, 32, 40, 48, 56, 64, 80, 96, 112, 128, 144, 160, 0};
const uint32_t kRateMpeg1[3] = {44100, 48000, 32000};

// How far past a bad spot we look for frames again, and how far into the
// file for the first frame: damaged files resync, random bytes do not hang.
constexpr size_t kResyncWindow = 1 << 16;
constexpr size_t kFirstFrameWindow = 1 << 20;

bool SameStream(const Mp3Header& a, const Mp3Header& b)
{
    return a.version == b.version && a.sampleRate == b.sampleRate && a.channels == b.channels;
}

// Where the stream is not yet known (the first frame, a resync), a frame
// counts only when the next frame (or the end of the file) follows it, so
// stray sync bytes in junk or in audio data are not taken for frames.
bool FrameAt(const uint8_t* bytes, size_t size, size_t pos, const Mp3Header* stream, bool confirm, Mp3Header* h)
{
    if (pos + 4 > size || !ParseMp3Header(bytes + pos, h))
        return false;
    if (stream && !SameStream(*stream, *h))
        return false;
    const size_t next = pos + h->frameBytes;
    if (next > size)
        return false;
    if (!confirm || next + 4 > size)
        return true;
    Mp3Header n;
    if (ParseMp3Header(bytes + next, &n))
        return SameStream(*h, n);
    // A trailing tag may follow the last frame.
    return memcmp(bytes + next, "TAG", 3) == 0 || (next + 8 <= size && memcmp(bytes + next, "APETAGEX", 8) == 0);
}

size_t SideInfoBytes(const Mp3Header& h)
{
    if (h.version == MpegVersion::Mpeg1)
        return h.channels == 1 ? 17 : 32;
    return h.channels == 1 ? 9 : 17;
}

// Adds a frame to the index with where its main data starts: main_data_begin
// opens the side information (9 bits in MPEG 1, 8 in MPEG 2 and 2.5), behind
// the CRC when the header announces one.
void AddFrame(const uint8_t* frame, size_t pos, const Mp3Header& h, Mp3Index* index)
{
    const size_t side = 4 + ((frame[1] & 1) ? 0 : 2);
    const bool mpeg1 = h.version == MpegVersion::Mpeg1;
    const uint16_t begin = mpeg1 ? (frame[side] << 1) | (frame[side + 1] >> 7) : frame[side];
    const size_t head = side + SideInfoBytes(h);
    index->offsets.push_back(pos);
    index->sizes.push_back(h.frameBytes);
    index->dataBegin.push_back(begin);
    // The smallest frame (8 kbit/s at 24 kHz, 24 bytes) still holds its side information.
    index->dataBytes.push_back(static_cast<uint16_t>(h.frameBytes - head));
}

// Recognises a Xing/Info or VBRI frame (no audio) and reads the encoder
// delay and padding of a LAME tag behind it.
bool InfoFrame(const uint8_t* frame, const Mp3Header& h, Mp3Index* index)
{
    const size_t xing = 4 + SideInfoBytes(h);
    if (xing + 8 <= h.frameBytes && (memcmp(frame + xing, "Xing", 4) == 0 || memcmp(frame + xing, "Info", 4) == 0)) {
        const uint32_t flags = frame[xing + 7];
        size_t lame = xing + 8;
        if (flags & 1)
            lame += 4;
        if (flags & 2)
            lame += 4;
        if (flags & 4)
            lame += 100;
        if (flags & 8)
            lame += 4;
        if (lame + 24 <= h.frameBytes && memcmp(frame + lame, "LAME", 4) == 0) {
            const uint8_t* d = frame + lame + 21;
            index->encoderDelay = (d[0] << 4) | (d[1] >> 4);
            index->encoderPadding = ((d[1] & 0x0F) << 8) | d[2];
        }
        return true;
    }
    return 4 + 32 + 4 <= h.frameBytes && memcmp(frame + 4 + 32, "VBRI", 4) == 0;
}

} // namespace

bool ParseMp3Header(const uint8_t* p, Mp3Header* h)
{
    if (p[0] != 0xFF || (p[1] & 0xE0) != 0xE0)
        return false;
    const int versionBits = (p[1] >> 3) & 3;
    const int layerBits = (p[1] >> 1) & 3;
    const int bitrateIndex = p[2] >> 4;
    const int rateIndex = (p[2] >> 2) & 3;
    if (versionBits == 1 || layerBits != 1 || bitrateIndex == 0 || bitrateIndex == 15 || rateIndex == 3)
        return false;
    if ((p[3] & 3) == 2)
        return false; // reserved emphasis
    h->version = versionBits == 3 ? MpegVersion::Mpeg1 : versionBits == 2 ? MpegVersion::Mpeg2 : MpegVersion::Mpeg25;
    const bool mpeg1 = h->version == MpegVersion::Mpeg1;
    h->sampleRate = kRateMpeg1[rateIndex] >> (mpeg1 ? 0 : h->version == MpegVersion::Mpeg2 ? 1 : 2);
    h->bitrate = 1000u * (mpeg1 ? kBitrateMpeg1 : kBitrateMpeg2)[bitrateIndex];
    h->channels = (p[3] >> 6) == 3 ? 1 : 2;
    h->samplesPerFrame = mpeg1 ? 1152 : 576;
    const uint32_t padding = (p[2] >> 1) & 1;
    h->frameBytes = (mpeg1 ? 144 : 72) * h->bitrate / h->sampleRate + padding;
    return true;
}

uint64_t Id3v2Size(const uint8_t* p, size_t n)
{
    if (n < 10 || memcmp(p, "ID3", 3) != 0 || p[3] == 0xFF || p[4] == 0xFF)
        return 0;
    if ((p[6] | p[7] | p[8] | p[9]) & 0x80)
        return 0;
    const uint64_t body = (uint64_t(p[6]) << 21) | (p[7] << 14) | (p[8] << 7) | p[9];
    const bool footer = p[5] & 0x10;
    return 10 + body + (footer ? 10 : 0);
}

bool IndexMp3(const uint8_t* bytes, size_t size, Mp3Index* index)
{
    *index = Mp3Index();
    size_t pos = 0;
    // Some files carry more than one tag in front.
    for (uint64_t tag; (tag = Id3v2Size(bytes + pos, size - pos)) != 0;) {
        if (tag >= size - pos)
            return false;
        pos += static_cast<size_t>(tag);
    }
    Mp3Header h;
    const size_t searchEnd = pos + kFirstFrameWindow;
    while (!FrameAt(bytes, size, pos, nullptr, true, &h)) {
        if (++pos >= size || pos >= searchEnd)
            return false;
    }
    index->first = h;
    if (InfoFrame(bytes + pos, h, index)) {
        pos += h.frameBytes;
    }
    const Mp3Header stream = h;
    while (pos + 4 <= size) {
        if (FrameAt(bytes, size, pos, &stream, false, &h)) {
            AddFrame(bytes + pos, pos, h, index);
            pos += h.frameBytes;
            continue;
        }
        if (memcmp(bytes + pos, "TAG", 3) == 0 || (pos + 8 <= size && memcmp(bytes + pos, "APETAGEX", 8) == 0))
            break;
        // Damaged spot: look for the next run of frames a little further on.
        const size_t limit = pos + kResyncWindow;
        do {
            ++pos;
        } while (pos + 4 <= size && pos < limit && !FrameAt(bytes, size, pos, &stream, true, &h));
        if (pos >= limit)
            break;
    }
    if (index->offsets.empty())
        return false;
    return true;
}

uint64_t FirstFrameToFeed(const Mp3Index& index, uint64_t frame)
{
    // A granule's output needs the two granules before it (the overlap of
    // the inverse MDCT and the synthesis window): one frame of two granules
    // in MPEG 1, two frames of one granule in MPEG 2 and 2.5.
    const uint64_t back = index.first.version == MpegVersion::Mpeg1 ? 1 : 2;
    uint64_t first = frame > back ? frame - back : 0;
    // Main data bytes still needed in front of that of frame `first`: each
    // frame's main data may start up to its dataBegin bytes earlier.
    int64_t needed = 0, between = 0;
    for (uint64_t f = first; f <= frame; ++f) {
        needed = std::max<int64_t>(needed, index.dataBegin[f] - between);
        between += index.dataBytes[f];
    }
    while (needed > 0 && first > 0) {
        --first;
        needed -= index.dataBytes[first];
    }
    return first;
}

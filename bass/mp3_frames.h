#pragma once
// MPEG audio layer III frame parsing: headers, ID3v2 tags, Xing/Info and
// LAME tags, and the frame index used for seeking. Pure (no windows.h).
#include <cstddef>
#include <cstdint>
#include <vector>

enum class MpegVersion { Unknown, Mpeg1, Mpeg2, Mpeg25 };

struct Mp3Header {
    MpegVersion version = MpegVersion::Unknown;
    uint32_t sampleRate = 0;
    uint32_t bitrate = 0; // bits per second
    uint16_t channels = 0;
    uint32_t frameBytes = 0; // whole frame, header included
    uint32_t samplesPerFrame = 0;
};

// Parses the 4 header bytes at `p`; false when they are no layer III frame
// header we can play (free-format bitrate included).
bool ParseMp3Header(const uint8_t* p, Mp3Header* header);

// Size of the ID3v2 tag starting at `p` (header and footer included), 0 when
// none starts there. `n` is the bytes available at `p`.
uint64_t Id3v2Size(const uint8_t* p, size_t n);

struct Mp3Index {
    Mp3Header first;               // of the first audio frame
    std::vector<uint64_t> offsets; // file offset of each audio frame
    std::vector<uint32_t> sizes;   // byte size of each audio frame
    // Layer III main data: how many bytes before its own a frame's main data
    // starts (main_data_begin, in earlier frames: the bit reservoir), and how
    // many bytes of main data the frame carries after its side information.
    std::vector<uint16_t> dataBegin;
    std::vector<uint16_t> dataBytes;
    // From a LAME tag: samples of silence the encoder added before and after
    // the audio (0 when the file has no such tag).
    uint32_t encoderDelay = 0;
    uint32_t encoderPadding = 0;
    uint64_t Frames() const { return offsets.size(); }
};

// Indexes the audio frames of an MP3 file held in memory: skips ID3v2 tags
// and junk, drops a Xing/Info/VBRI frame from the audio, stops at a
// truncated last frame or a trailing tag. False when no run of consistent
// layer III frames is found.
bool IndexMp3(const uint8_t* bytes, size_t size, Mp3Index* index);

// The frame a fresh decoder must be fed from so that audio frame `frame`
// comes out as in a decode from the start: the granules before it must
// decode whole too, and their main data may start frames earlier (the bit
// reservoir).
uint64_t FirstFrameToFeed(const Mp3Index& index, uint64_t frame);

#pragma once
// RIFF WAVE parsing and decoding. Pure (no windows.h): tested against sox
// and fuzzed on the build machine.
#include "byte_source.h"
#include "decoder.h"

#include <vector>

// WavCoded: IMA or MS ADPCM, µ-law or A-law, left to the system's codecs;
// `frames` is then unknown (0) until decoded. Every other coding is refused.
enum WavEncoding : uint16_t { WavCoded = 0, WavPcm = 1, WavFloat = 3 };

struct WavFormat {
    WavEncoding encoding = WavPcm;
    uint16_t formatTag = 0;  // the coding's tag (an extensible header's subformat)
    uint16_t blockAlign = 0; // bytes of one block of the coding
    uint16_t channels = 0;
    uint16_t bitsPerSample = 0; // container bits: 8, 16, 24, 32 or 64
    uint32_t sampleRate = 0;
    uint32_t channelMask = 0; // speaker bits of WAVE_FORMAT_EXTENSIBLE, 0 when absent
    uint64_t dataOffset = 0;
    uint64_t frames = 0; // whole frames present in the file
    uint64_t dataBytes = 0;
    uint64_t fmtOffset = 0; // the fmt chunk's body, and how much of it was read
    uint32_t fmtBytes = 0;
    // A coded file's header as its codec takes it: a WAVEFORMATEX with the
    // coding's tag, whose cbSize counts the coding's bytes that follow.
    std::vector<uint8_t> codecHeader;
    uint32_t BlockAlign() const { return channels * (bitsPerSample / 8u); }
};

// Limits of what we accept; the rest is refused as damaged or absurd.
constexpr uint32_t kWavMaxFmtBytes = 1024; // a coding's fmt chunk with its codec data
constexpr uint16_t kWavMaxChannels = 32;
constexpr uint32_t kWavMinRate = 1000;
constexpr uint32_t kWavMaxRate = 768000;
// Files whose audio data is at most this large are read into memory whole
// at open (drum samples); larger ones are read in chunks as they play.
constexpr uint64_t kWavMemoryBytes = 4u << 20;

// Fills `format` from the chunks of a RIFF WAVE file: unknown chunks are
// skipped, odd chunk sizes padded, and a data chunk whose size runs past the
// end of the file is cut to the bytes really there. False when the bytes
// hold no playable WAVE audio.
bool ParseWav(ByteSource& source, WavFormat* format);

// Stereo gains of each file channel, as used to down-mix to stereo:
// gains[c][0] to the left, gains[c][1] to the right.
//   mono: the channel on both sides at full level;
//   stereo: as it is;
//   more: each channel by its speaker position (channel mask, or the usual
//   order FL FR FC LFE BL BR FLC FRC BC SL SR when absent): fronts to their
//   side at 1, centres to both at 0.7071, backs and sides to their side at
//   0.7071, back/top centres to both at 0.5, LFE dropped, channels without a
//   position alternately left and right at 0.7071; then each side is scaled
//   by 1 / (sum of its gains) when that sum is above 1, so full-scale input
//   on every channel cannot clip.
void WavStereoGains(const WavFormat& format, float gains[][2]);

// A decoder of the WAVE audio in `source`; null when it is not playable
// (a WavCoded file included: the system's codecs decode those).
// Audio up to `memoryBytes` is read into memory at open.
std::unique_ptr<Decoder> OpenWav(std::unique_ptr<ByteSource> source, uint64_t memoryBytes = kWavMemoryBytes);

// A decoder of 16-bit PCM held in memory (a codec's output), counted as `held`.
std::unique_ptr<Decoder> OpenPcm16(std::vector<uint8_t> pcm, uint16_t channels, uint32_t sampleRate,
                                   DecodedBytes held = DecodedBytes());

// A decoder of `format.frames` frames of PCM or float samples laid out as a
// WAV file's data chunk, at `format.dataOffset` of `samples` (another
// format's audio brought into that layout); null when the format is none
// OpenWav plays or the bytes are not all there.
std::unique_ptr<Decoder> OpenWavSamples(std::unique_ptr<ByteSource> samples, const WavFormat& format);

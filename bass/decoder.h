#pragma once
// Audio decoded from a file, handed to the mixer as interleaved stereo
// float frames at the file's own sample rate.
#include <cstddef>
#include <cstdint>
#include <memory>

class Decoder {
public:
    virtual ~Decoder() = default;
    virtual uint32_t SampleRate() const = 0;
    // Channel count of the file itself (before the down-mix to stereo):
    // byte positions of the audio contract count the audio as 16-bit PCM
    // at the file's own rate and channel count.
    virtual uint32_t FileChannels() const = 0;
    virtual uint64_t LengthFrames() const = 0;
    // Reads up to `frames` stereo frames from the current position; fewer
    // only at the end of the audio.
    virtual size_t Read(float* stereo, size_t frames) = 0;
    // Moves to a frame; refuses (false, position unchanged) at or past the end.
    virtual bool Seek(uint64_t frame) = 0;
    // True when the audio is held in memory: Read then does no file I/O and
    // no allocation, so it may run on the mixer thread (short drum samples).
    virtual bool InMemory() const { return false; }
};

enum class DecodeFailure { None, CannotOpen, NotDecodable };

// Opens a file the library can play (WAV by our own parser; on Windows
// also MP3, WAV codings the system has a codec for, and what else the
// system decodes). Null when it cannot be decoded; `why` says whether the
// file could be opened at all.
std::unique_ptr<Decoder> OpenDecoder(const char* path, DecodeFailure* why = nullptr);

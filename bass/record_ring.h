#pragma once
// The mix recorder's pure part: the ring that carries the device's frames
// as 16-bit PCM from the mixer thread to the file writer, and the WAV
// header and size arithmetic of the file. No platform code: tested natively.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <memory>

// Single producer (the mixer thread), single consumer (the writer). The
// producer never waits and never allocates: what does not fit is dropped
// and counted.
class RecordRing {
public:
    // Room for at least `frames` frames of `channels` channels (rounded up
    // to a power of two); allocates here, on the caller's thread.
    RecordRing(uint32_t frames, uint32_t channels);

    // Producer: converts `frames` stereo float frames to the device's
    // channels as the device path does and queues them. Returns the frames
    // taken; the others count as overruns.
    uint32_t Push(const float* stereo, uint32_t frames);
    uint32_t Overruns() const { return overruns_.load(std::memory_order_relaxed); }

    // Consumer: the oldest queued frames that lie in one piece of memory,
    // then how many of them have been taken.
    uint32_t Peek(const int16_t** data) const;
    void Consume(uint32_t frames);

    uint32_t Capacity() const { return mask_ + 1; }
    uint32_t Channels() const { return channels_; }

private:
    static_assert(std::atomic<uint32_t>::is_always_lock_free, "the mixer thread must not take a lock");
    std::unique_ptr<int16_t[]> samples_;
    uint32_t mask_ = 0;
    uint32_t channels_;
    // Frame counters that run on and wrap; their difference is the fill.
    std::atomic<uint32_t> write_{0};
    std::atomic<uint32_t> read_{0};
    std::atomic<uint32_t> overruns_{0};
};

// A RIFF file's sizes are 32 bits: the RIFF chunk's size (the file less
// its first 8 bytes) can be at most this.
constexpr uint64_t kRiffMaxSize = 0xFFFFFFFFull;
constexpr uint32_t kWavHeaderBytes = 44;
constexpr uint32_t kWavExtensibleHeaderBytes = 68;

// Mono and stereo get the canonical 44-byte header of 16-bit PCM; more
// channels get WAVE_FORMAT_EXTENSIBLE (68 bytes), which alone says which
// speaker each channel is for.
uint32_t WavHeaderBytes(uint32_t channels);
// The header of 16-bit PCM with `frames` frames of data, WavHeaderBytes
// long; beyond stereo the channels are the first speakers in Windows'
// order (front left, front right, front centre, LFE, back left, ...).
// The sizes must fit: frames no more than WavMaxFrames(kRiffMaxSize, ...).
void WavHeader16(uint8_t out[kWavExtensibleHeaderBytes], uint32_t rate, uint32_t channels, uint64_t frames);

// The largest RIFF size a file system, named as GetVolumeInformation names
// it, can hold in one file: FAT32 files end 1 byte short of 4 GiB, FAT12
// and FAT16 files 1 byte short of 2 GiB; NTFS, exFAT and the others hold
// more than a RIFF size can say.
uint64_t RiffLimitOfFileSystem(const char* name);

// Whole 16-bit frames a file may hold while its RIFF size stays within `riffLimit`.
uint64_t WavMaxFrames(uint64_t riffLimit, uint32_t channels);

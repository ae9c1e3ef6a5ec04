#include "bass/record_ring.h"

#include "bass/mixer.h"

#include <string>

RecordRing::RecordRing(uint32_t frames, uint32_t channels) : channels_(channels ? channels : 1)
{
    uint32_t capacity = 1;
    while (capacity < frames && capacity < (1u << 30))
        capacity <<= 1;
    mask_ = capacity - 1;
    samples_.reset(new int16_t[(size_t)capacity * channels_]());
}

uint32_t RecordRing::Push(const float* stereo, uint32_t frames)
{
    uint32_t write = write_.load(std::memory_order_relaxed);
    uint32_t free = Capacity() - (write - read_.load(std::memory_order_acquire));
    uint32_t stored = frames < free ? frames : free;
    for (uint32_t i = 0; i < stored;) {
        uint32_t at = (write + i) & mask_;
        uint32_t run = Capacity() - at;
        if (run > stored - i)
            run = stored - i;
        int16_t* out = samples_.get() + (size_t)at * channels_;
        const float* in = stereo + 2 * (size_t)i;
        if (channels_ == 2) {
            ToPcm16(out, in, (size_t)run * 2);
        } else {
            for (uint32_t f = 0; f < run; f++)
                for (uint32_t c = 0; c < channels_; c++)
                    out[(size_t)f * channels_ + c] = Pcm16(DeviceSample(in, f, c, channels_));
        }
        i += run;
    }
    write_.store(write + stored, std::memory_order_release);
    if (stored < frames)
        overruns_.store(overruns_.load(std::memory_order_relaxed) + (frames - stored), std::memory_order_relaxed);
    return stored;
}

uint32_t RecordRing::Peek(const int16_t** data) const
{
    uint32_t read = read_.load(std::memory_order_relaxed);
    uint32_t queued = write_.load(std::memory_order_acquire) - read;
    uint32_t at = read & mask_;
    uint32_t run = Capacity() - at;
    *data = samples_.get() + (size_t)at * channels_;
    return queued < run ? queued : run;
}

void RecordRing::Consume(uint32_t frames)
{
    read_.store(read_.load(std::memory_order_relaxed) + frames, std::memory_order_release);
}

namespace {

void Put16(uint8_t* p, uint32_t v)
{
    p[0] = (uint8_t)v;
    p[1] = (uint8_t)(v >> 8);
}

void Put32(uint8_t* p, uint32_t v)
{
    Put16(p, v);
    Put16(p + 2, v >> 16);
}

} // namespace

uint32_t WavHeaderBytes(uint32_t channels)
{
    return channels > 2 ? kWavExtensibleHeaderBytes : kWavHeaderBytes;
}

void WavHeader16(uint8_t out[kWavExtensibleHeaderBytes], uint32_t rate, uint32_t channels, uint64_t frames)
{
    const bool extensible = channels > 2;
    const uint32_t bytes = WavHeaderBytes(channels);
    const uint32_t dataTag = bytes - 8;
    uint32_t align = channels * 2;
    uint32_t data = (uint32_t)(frames * align);
    const char* tags[] = {"RIFF", "WAVE", "fmt ", "data"};
    const uint32_t at[] = {0, 8, 12, dataTag};
    for (int t = 0; t < 4; t++)
        for (int i = 0; i < 4; i++)
            out[at[t] + i] = (uint8_t)tags[t][i];
    Put32(out + 4, bytes - 8 + data);
    Put32(out + 16, dataTag - 20);
    Put16(out + 20, extensible ? 0xFFFE : 1); // WAVE_FORMAT_EXTENSIBLE or PCM
    Put16(out + 22, channels);
    Put32(out + 24, rate);
    Put32(out + 28, rate * align);
    Put16(out + 32, align);
    Put16(out + 34, 16);
    if (extensible) {
        // KSDATAFORMAT_SUBTYPE_PCM, {00000001-0000-0010-8000-00AA00389B71}.
        static const uint8_t kPcm[16] = {1, 0, 0, 0, 0, 0, 0x10, 0, 0x80, 0, 0, 0xAA, 0, 0x38, 0x9B, 0x71};
        Put16(out + 36, 22); // the extension's size
        Put16(out + 38, 16); // valid bits of each sample
        Put32(out + 40, channels >= 32 ? 0xFFFFFFFFu : (1u << channels) - 1);
        for (int i = 0; i < 16; i++)
            out[44 + i] = kPcm[i];
    }
    Put32(out + bytes - 4, data);
}

uint64_t RiffLimitOfFileSystem(const char* name)
{
    const std::string fileSystem = name ? name : "";
    // The RIFF size leaves out the file's first 8 bytes.
    if (fileSystem == "FAT32")
        return 0xFFFFFFFFull - 8;
    if (fileSystem == "FAT" || fileSystem == "FAT12" || fileSystem == "FAT16")
        return 0x7FFFFFFFull - 8;
    return kRiffMaxSize;
}

uint64_t WavMaxFrames(uint64_t riffLimit, uint32_t channels)
{
    uint64_t headerPart = WavHeaderBytes(channels) - 8;
    if (riffLimit > kRiffMaxSize)
        riffLimit = kRiffMaxSize;
    if (riffLimit <= headerPart || !channels)
        return 0;
    return (riffLimit - headerPart) / (2ull * channels);
}

#include "tests/support/tone_wav.h"

#include <cmath>
#include <cstdint>
#include <fstream>

namespace {

std::string ToneFrames(double hz, uint32_t frames, int channels)
{
    const uint32_t rate = 44100, align = 2 * channels;
    auto u32 = [](uint32_t v) { return std::string((const char*)&v, 4); };
    auto u16 = [](uint16_t v) { return std::string((const char*)&v, 2); };
    std::string data;
    data.reserve(frames * align);
    for (uint32_t i = 0; i < frames; i++) {
        const std::string sample = u16((uint16_t)(int16_t)(12000 * std::sin(2 * 3.14159265358979 * hz * i / rate)));
        for (int c = 0; c < channels; c++)
            data += sample;
    }
    return "RIFF" + u32(36 + (uint32_t)data.size()) + "WAVEfmt " + u32(16) + u16(1) + u16((uint16_t)channels) +
           u32(rate) + u32(rate * align) + u16((uint16_t)align) + u16(16) + "data" + u32((uint32_t)data.size()) + data;
}

} // namespace

std::string ToneWav(double hz, int ms, int channels)
{
    return ToneFrames(hz, 44100 * ms / 1000, channels);
}

void WriteToneWav(const std::string& path, double seconds, double frequency)
{
    const std::string bytes = ToneFrames(frequency, (uint32_t)(seconds * 44100), 2);
    std::ofstream(path, std::ios::binary).write(bytes.data(), bytes.size());
}

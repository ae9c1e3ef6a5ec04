#pragma once
// The library's recordings read back: a plain 44-byte header and 16-bit frames.
#include <cstdint>
#include <string>
#include <vector>

// A recorded file as it lies on the disk, read while the library may still
// be writing it.
struct Recorded {
    bool ok = false;
    uint64_t fileSize = 0;
    uint32_t riffSize = 0, dataSize = 0, rate = 0;
    uint16_t format = 0, channels = 0, bits = 0, align = 0;
    std::vector<int16_t> samples; // the data chunk's whole frames
};

Recorded ReadRecorded(const std::string& path);

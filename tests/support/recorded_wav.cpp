#include "tests/support/recorded_wav.h"

#include <windows.h>

#include <algorithm>
#include <cstring>

Recorded ReadRecorded(const std::string& path)
{
    Recorded r;
    HANDLE h =
        CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr, OPEN_EXISTING, 0, nullptr);
    if (h == INVALID_HANDLE_VALUE)
        return r;
    LARGE_INTEGER size;
    GetFileSizeEx(h, &size);
    std::vector<uint8_t> bytes((size_t)size.QuadPart);
    DWORD got = 0;
    ReadFile(h, bytes.data(), (DWORD)bytes.size(), &got, nullptr);
    // The size after the header was read: the data it counts is on the disk
    // by then, though the file may have grown past what was read.
    GetFileSizeEx(h, &size);
    CloseHandle(h);
    bytes.resize(got);
    r.fileSize = (uint64_t)size.QuadPart;
    if (got < 44 || memcmp(bytes.data(), "RIFF", 4) || memcmp(&bytes[8], "WAVEfmt ", 8) ||
        memcmp(&bytes[36], "data", 4))
        return r;
    memcpy(&r.riffSize, &bytes[4], 4);
    memcpy(&r.format, &bytes[20], 2);
    memcpy(&r.channels, &bytes[22], 2);
    memcpy(&r.rate, &bytes[24], 4);
    memcpy(&r.align, &bytes[32], 2);
    memcpy(&r.bits, &bytes[34], 2);
    memcpy(&r.dataSize, &bytes[40], 4);
    size_t data = std::min<size_t>(r.dataSize, got - 44);
    if (r.align)
        data -= data % r.align;
    r.samples.resize(data / 2);
    memcpy(r.samples.data(), &bytes[44], data);
    r.ok = true;
    return r;
}

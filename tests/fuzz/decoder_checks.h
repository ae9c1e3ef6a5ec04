#pragma once
// What every decoder a fuzzer opens must keep to: a rate, channels and a
// length; no non-number reaching the mixer; never more frames than it
// states, and exactly those when it holds them in memory; no seek to the end.
#include <cmath>
#include <cstdint>
#include <cstdlib>

#include "decoder.h"

inline void CheckDecoder(Decoder& d)
{
    if (d.SampleRate() == 0 || d.FileChannels() == 0 || d.LengthFrames() == 0)
        abort();
    // A stream may state days of audio; a bounded read tells enough.
    constexpr uint64_t kMostRead = uint64_t(1) << 22;
    float buf[2 * 333];
    uint64_t total = 0;
    for (size_t n; total < kMostRead && (n = d.Read(buf, 333)) > 0;) {
        for (size_t i = 0; i < 2 * n; ++i)
            if (!std::isfinite(buf[i]))
                abort();
        total += n;
    }
    if (total > d.LengthFrames() || (d.InMemory() && total != d.LengthFrames()))
        abort();
    if (d.Seek(d.LengthFrames()))
        abort();
    // A damaged stream may refuse a seek; it must not break on one.
    if (d.Seek(d.LengthFrames() / 2))
        for (size_t n; total < 2 * kMostRead && (n = d.Read(buf, 333)) > 0;)
            total += n;
}

#pragma once
// Rules of the urgent-notice channel that need no Windows: the daily gate,
// the notice folder and the sound command. No windows.h here.
#include <cstdint>
#include <string>

constexpr uint64_t kNoticeQuietMs = 86400000; // 24 hours

// Lets the channel act at most once per 24 hours of a 64-bit millisecond
// counter, which neither turns negative nor wraps during a run.
struct NoticeGate {
    uint64_t opensAt = 0;
    // True when the channel may act at `now`; the gate then closes for a day.
    bool TryPass(uint64_t now);
};

// The folder above the program's own folder on the server:
// ".../YXProgect/yxyt/" gives ".../YXProgect/".
std::string ParentAddress(const std::string& folderAddress);

// Whether fetched bytes are a notice sound the program plays: a WAV file,
// or MP3 (an ID3 tag or an MPEG layer III frame header first). Anything
// else is never handed to the audio library, whose last resort for other
// formats is the system's codecs.
bool IsNoticeSound(const std::string& bytes);

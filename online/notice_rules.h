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

// The MCI command that opens the notice sound under the alias "sound",
// with the address as one quoted word; false unless the address is a web
// address: the text comes from the server, and MCI would as readily open a
// local file or a share.
bool SoundOpenCommand(const std::string& address, std::string& command);

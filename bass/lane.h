#pragma once
// A lane: one stream on the device and the mixer thread that feeds it.
// Lane 0 plays everything and is what a recording hears; lane 1, when the
// device gives a second shared stream, plays the hits alone, so that it
// idles between them and starts each from an empty buffer while music
// keeps lane 0 busy. The output owns a lane's device, format, policy and
// state (output.cpp); the channel table owns what is mixed into it (its
// voices, timing and limiter: channel_table.h). No platform code.
#include <cstdint>

constexpr uint32_t kLanes = 2;

// What a backend reports of the stream it opened.
struct OutputFormat {
    uint32_t rate = 0;
    uint32_t channels = 0;
    uint32_t periodFrames = 0; // what the device asks for per wake-up
    uint32_t bufferFrames = 0; // the real buffer size read back
    double latencyMs = 0;      // what the device adds after its buffer
    // The device can be halted and emptied (the backend's `idle`).
    bool canIdle = false;
    // Each wake-up takes a whole buffer while the device plays the other
    // (an exclusive stream): nothing else is queued behind it.
    bool wholeBuffers = false;
    // Periods below the engine's classic one (IAudioClient3).
    bool shortPeriods = false;
    const char* api = "";
};

// How far ahead of the device a lane writes, decided by OutputPolicy from
// the format.
struct LanePolicy {
    uint32_t targetFrames = 0; // kept ahead while the device runs since its open
    // Written before a start from an empty buffer, and kept ahead after it
    // until the device idles again: a stream started from empty lacks the
    // engine's queue that one running since its open has built up.
    uint32_t startFrames = 0;
    // Kept ahead while lane 0 holds no hit, only music: a mixer thread
    // that comes late under load still finds the device playing. 0: never.
    uint32_t deepFrames = 0;
    bool idles = false; // the device is halted and emptied while nothing plays
};

// Closed -> Opened (device open) -> Priming (OutputStart: the buffer is
// filled before the device starts) -> Playing (target ahead, deep with
// music alone) -> Idle (all it holds is silence: halted and emptied) ->
// Resumed (a play call: its sound written at the head of the empty
// buffer, the device started, start depth ahead) -> Idle ... A start the
// device refuses leads to Idle too. OutputClose puts every state in
// Closing, which only the end of the lane's thread leaves, for Closed.
enum class LaneState { Closed, Opened, Priming, Playing, Idle, Resumed, Closing };

// A lane whose device is open and not being closed.
inline bool LaneIsOpen(LaneState s)
{
    return s != LaneState::Closed && s != LaneState::Closing;
}

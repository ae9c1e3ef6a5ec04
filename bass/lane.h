#pragma once
// A lane: one stream on the device, the mixer thread that feeds it, and
// the mixing state of that thread. Lane 0 plays everything and is what a
// recording hears; lane 1, when the device gives a second shared stream,
// plays the hits alone, so that it idles between them and starts each
// from an empty buffer while music keeps lane 0 busy. The output drives a
// lane's device (output.cpp), the channel table mixes into it
// (channel_render.cpp). No platform code: the mixing builds natively.
#include <cstddef>
#include <cstdint>
#include <exception>
#include <vector>

#include "bass/click.h"
#include "bass/mixer.h"

struct OutputBackend;
struct Source;

constexpr uint32_t kLanes = 2;
constexpr size_t kMaxVoices = 256;
constexpr size_t kChunkFrames = 2048;

// What a backend reports of the stream it opened.
struct OutputFormat {
    uint32_t rate = 0;
    uint32_t channels = 0;
    uint32_t periodFrames = 0; // what the device asks for per wake-up
    uint32_t bufferFrames = 0; // the real buffer size read back
    double latencyMs = 0;      // what the device adds after its buffer
    // The device can be stopped and emptied (the backend's `idle`).
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
    bool idleStop = false; // stopped and emptied while nothing plays
};

// Closed -> Opened (device open) -> Priming (OutputStart: the buffer is
// filled before the device starts) -> Playing (target ahead, deep with
// music alone) -> Idle (all it holds is silence: stopped and emptied) ->
// Resumed (a play call: its sound written at the head of the empty
// buffer, the device started, start depth ahead) -> Idle ... A start the
// device refuses leads to Idle too; OutputClose ends every state.
enum class LaneState { Closed, Opened, Priming, Playing, Idle, Resumed };

// A channel's voice being mixed in the current block.
struct Voice {
    uint32_t slot, handle, gen;
    int ring; // -1: the channel's newest hit, else its ringing voice in that slot
    Source* audio;
    uint64_t devPos; // memory sources: next frame to mix
    float gain;
    uint32_t fadeLeft; // frames to silence, 0: not fading
    float fadeStep;    // the gain's fall per frame while fading
    bool probe;
    size_t offset; // silent frames before its first in this block
    size_t mixed;
    bool ended;
};

// A channel whose first frames after a play call are in the block just
// rendered: where in the block, and at what gain.
struct Onset {
    uint32_t handle;
    uint32_t at;
    float gain;
};

struct Lane {
    uint32_t index = 0;
    LaneState state = LaneState::Closed;

    // The output's side, on the lane's mixer thread once it runs.
    const OutputBackend* backend = nullptr;
    OutputFormat format;
    LanePolicy policy;
    void* thread = nullptr; // the mixer thread's HANDLE
    void* opened = nullptr; // set once the thread has opened the device
    // Made once and never closed: a play call may set it while the output closes.
    void* wake = nullptr;
    bool openResult = false;
    std::exception_ptr failure; // thrown while opening, rethrown to the caller
    std::vector<float> block;   // allocated by the caller: mixing allocates nothing
    // The mixer thread's clock: performance-counter ticks, and the device's
    // frames per tick (set when the output opens).
    double framesPerTick = 0;
    // When the device runs out of what was written.
    int64_t dryAt = 0;
    // Lane 0 hands a recording each frame as the device plays it, not as
    // it is mixed: music alone is mixed a deep buffer ahead, and a
    // recording started meanwhile begins with what is heard after its
    // start. A ring of the frames written and not yet handed on, which
    // are those the device still holds.
    std::vector<float> held;
    uint64_t heldIn = 0, heldOut = 0;
    // Lane 0's metronome, on the timeline of the frames the device plays;
    // and the block as the device gets it where the click is kept out of
    // what a recording gets. Allocated when the output opens.
    ClickTimeline click;
    std::vector<float> clickMono, heard;

    // The channel table's side; `blocks` and `mixing` change under its
    // lock: a lane is mixing between its snapshot and its write-back.
    Voice voices[kMaxVoices];
    int64_t taken = 0;    // the clock when the lane last took the channels
    int64_t timeline = 0; // the clock time the last write ended at
    int64_t gap = 0;      // how late the last write was taken, not yet followed
    float scratch[kChunkFrames * 2];
    Limiter limiter;
    uint64_t blocks = 0;
    bool mixing = false;
    Onset onsets[kMaxVoices];
    size_t onsetCount = 0; // of the last RenderMix
};

extern Lane Lanes[kLanes];

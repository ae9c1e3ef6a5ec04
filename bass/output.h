#pragma once
// Audio output: a backend is a table of functions, so the waveOut fallback
// is a second table rather than a branch in every call. The mixer thread
// that drives the chosen backend lives in output.cpp.
#include <windows.h>

#include <atomic>
#include <cstdint>
#include <string>

#include "bass/click.h"
#include "bass/lane.h"

// Each function is handed `self`, the backend's own state, so that one
// set of functions serves several streams.
struct OutputBackend {
    const char* name;
    void* self;
    // `endpoint` empty: the default device. `waveDevice`: WAVE_MAPPER or an
    // index. `closeEvent`: set when the output closes, ending any wait.
    bool (*open)(void* self, const std::wstring& endpoint, UINT waveDevice, HANDLE closeEvent, OutputFormat* format);
    bool (*start)(void* self);
    // Halts the device if it plays, and releases it.
    void (*close)(void* self);
    // Waits for the device (or the close event, or the time-out) and returns
    // the frames it takes now and, in `queued`, the frames still ahead of
    // them. A time-out of 0: the device has not started (the lane primes),
    // nothing is waited for.
    uint32_t (*wait)(void* self, DWORD timeoutMs, uint32_t* queued);
    bool (*write)(void* self, const float* stereo, uint32_t frames);
    // Halts the device and drops what its buffer still holds, so the next
    // start plays from an empty buffer; returns the frames dropped. Null
    // when the device cannot (the format's `canIdle`).
    uint32_t (*idle)(void* self);
};

extern const OutputBackend WasapiOutput;
// A second shared stream on the same device, for the hits.
extern const OutputBackend WasapiHitOutput;
extern const OutputBackend WaveOutOutput;

// Opens the device (-1: default, n: the n-th wave output device) on the
// mixer thread, which mixes nothing until OutputStart: the channels are
// opened at the device's rate in between. False when no backend opens it.
// A shared stream that idles gets a second stream for the hits when the
// device gives one. `only`, `onlyHits`: those backends instead of
// the system's (the tests' own devices); no hit lane without `onlyHits`.
bool OutputOpen(int device, const OutputBackend* only = nullptr, const OutputBackend* onlyHits = nullptr);
// The opened lanes begin to mix the channels into their devices.
void OutputStart();
void OutputClose();
// Plays the channel on the lane it belongs to: a hit on the hits' own
// stream while there is one and no tap listens, anything else on lane 0.
// The lane's device, idle while nothing played there, starts again at
// once with the new sound at the head of its buffer.
// `gain`: the new hit's, as ChannelPlay takes it.
bool OutputPlay(uint32_t handle, bool restart, int64_t* playedAt = nullptr, float gain = 1.0f);
// A channel was played on `lane` directly (the tests' own placing).
void OutputWake(uint32_t lane = 0);
// Whether hits have their own stream (lane 1 of the channels).
bool OutputHasHitLane();

// Something lane 0 placed in a block: a hit's first frame, or a beat of
// the click (handle 0).
struct TapMark {
    uint32_t handle;
    float gain;
    uint32_t place, beats, milliBpm; // a beat's
};

// What observes the mix as the device plays it (a recording): handed lane
// 0's frames, and nothing else of the output.
struct OutputTap {
    void* self;
    // Whether it takes frames now: meanwhile the hits join lane 0, whose
    // mix it hears.
    bool (*listening)(void* self);
    // Mixer thread: frames the device has just played. Never waits.
    void (*played)(void* self, const float* stereo, uint32_t frames);
    // Mixer thread: `mark` starts `ahead` frames after the last frame
    // handed to `played` so far. Never waits.
    void (*placed)(void* self, const TapMark& mark, uint64_t ahead);
};
// Set while the output is closed; null: none.
void OutputSetTap(const OutputTap* tap);
// The metronome's settings word (bass/click.h), read by lane 0 at its
// next block; a running click keeps lane 0 playing.
void OutputSetClick(uint64_t word);
// The metronome as the program sets it, kept across closes: its settings,
// and whether it runs (a start begins a bar). Each reaches lane 0 as the
// word above.
void OutputSetMetronome(const ClickSettings& settings);
void OutputRunMetronome(bool on);
// Lane 0's format: the rate of the channels, and the recording's format.
const OutputFormat& OutputCurrentFormat();
const OutputFormat& OutputHitLaneFormat();
// How far ahead a lane on a device of that format writes.
LanePolicy OutputPolicy(const OutputFormat& device);
const LanePolicy& OutputCurrentPolicy();
const LanePolicy& OutputHitLanePolicy();
const char* OutputBackendName();

#ifdef OUTPUT_START_PROBE
// When the first frames of a played channel entered the device buffer:
// read by the latency benchmark, whose build alone carries it.
struct StartProbe {
    std::atomic<uint32_t> seq{0};
    std::atomic<uint32_t> handle{0};
    std::atomic<int64_t> ticks{0};   // QueryPerformanceCounter after the write
    std::atomic<uint32_t> queued{0}; // frames ahead of them in the buffer
};
StartProbe& OutputStartProbe();
#endif

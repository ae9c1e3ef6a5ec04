#pragma once
// The channel table: handles, playback state, volumes, positions and end
// routines, shared by the API threads, the mixer thread and the library's
// own feeder and end-routine threads. Pure C++ so it is tested natively.
#include <cstddef>
#include <cstdint>
#include <memory>

#include "bass/lane.h"

class Decoder;

// Calls one end routine; the exported layer knows its calling convention.
using SyncInvoker = void (*)(void* proc, uint32_t sync, uint32_t channel, void* user);

constexpr uint64_t kNoPosition = ~0ull;
constexpr uint32_t kNoVoices = ~0u;
constexpr uint32_t kMaxChannelVoices = 4;

// Opens the table for an output running at `deviceRate` and starts the
// feeder and end-routine threads. False when it is already open.
bool ChannelsOpen(uint32_t deviceRate, SyncInvoker invoker);
// Frees every channel (their handles fail from now on) and joins the
// threads. The mixer must not call RenderMix again until the next open.
void ChannelsClose();
bool ChannelsAreOpen();

// A stopped channel at volume 1 playing the decoder's audio; 0 on failure.
uint32_t ChannelCreate(std::unique_ptr<Decoder> decoder);
bool ChannelFree(uint32_t handle);
// A sound held in memory (a drum hit) is mixed by the output's lane
// `hitLane`, which idles while no hit rings and so starts a hit from an
// empty buffer even while music plays on lane 0. Streams stay on lane 0.
// `lane`, `playedAt`, when given: the lane it plays on and the clock time
// it is placed by. A new hit (a restart, or a start from the end) plays at
// `gain` (0 to 1) times the channel's volume. With several voices a
// restart starts a new voice and the earlier ones ring on.
bool ChannelPlay(uint32_t handle, bool restart, uint32_t hitLane = 0, uint32_t* lane = nullptr,
                 int64_t* playedAt = nullptr, float gain = 1.0f);
bool ChannelPause(uint32_t handle);
bool ChannelStop(uint32_t handle);
// Voices the channel may sound at once, 1 to kMaxChannelVoices (a
// stream: 1). Pause, stop, volume and fade-out act on all of them.
bool ChannelSetVoices(uint32_t handle, uint32_t count);
// Voices sounding now (a stolen one fading out is not counted); kNoVoices
// for an unknown handle.
uint32_t ChannelGetVoices(uint32_t handle);
// Every voice fades to silence over `ms` and the channel stops.
bool ChannelFadeOut(uint32_t handle, uint32_t ms);
bool ChannelGetVolume(uint32_t handle, float* volume);
bool ChannelSetVolume(uint32_t handle, float volume);
// Bytes of the file's audio as 16-bit PCM at its own rate and channels.
uint64_t ChannelGetPosition(uint32_t handle);
bool ChannelSetPosition(uint32_t handle, uint64_t bytes);
// A routine called on the library's thread each time the channel ends.
uint32_t ChannelSetEndSync(uint32_t handle, void* proc, void* user, bool oneTime);

// A lane's mixer thread: renders `frames` stereo frames of the lane's
// playing channels, limited to full scale. Returns the handle of a channel
// whose first frames after a play call are in this block, else 0;
// `voices`, when given, is how many channels played in it or wait for the
// next. `onTime`: the blocks follow each other at the device's pace, each
// standing for the time since the last, and a channel played in that time
// starts as far into this block as its play call came into it; otherwise
// it starts with the block (a device started for it).
uint32_t RenderMix(float* out, size_t frames, size_t* voices = nullptr, bool onTime = false, uint32_t lane = 0);

// A hit whose first frames after a play call are in the block just
// rendered: where in the block, and at what gain.
struct Onset {
    uint32_t handle;
    uint32_t at;
    float gain;
};
// The lane's mixer thread, after RenderMix: the hits that started in its
// block; valid until its next RenderMix.
size_t ChannelsOnsets(uint32_t lane, const Onset** onsets);

// The clock of play calls and blocks, in nanoseconds (a steady clock
// unless a test sets its own; null puts it back).
using ClockFn = int64_t (*)();
void ChannelsSetClock(ClockFn now);

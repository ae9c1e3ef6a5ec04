#pragma once
// The channel table's state, shared by its three files: the handles and
// calls (channels.cpp), the feeder and end-routine threads
// (channel_threads.cpp), and the mixing (channel_render.cpp).
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <vector>

#include "bass/channels.h"
#include "bass/lane.h"
#include "bass/mixer.h"
#include "bass/source.h"

namespace channels {

constexpr uint32_t kSlotBits = 10;
constexpr uint32_t kMaxChannels = 1u << kSlotBits;
constexpr size_t kMaxEvents = 1024;

enum class PlayState { Stopped, Playing, Paused };

// Room for a channel's ringing voices and the stolen ones still fading
// out beside them.
constexpr uint32_t kRingingSlots = 2 * kMaxChannelVoices;
// A stolen voice fades out over this instead of stopping dead: no click.
constexpr uint32_t kStealFadeMs = 5;

// A fade to silence counted in frames mixed: the gain falls by `step` per
// frame and is `step * left` now.
struct Fade {
    uint32_t left = 0; // 0: not fading
    float step = 0;
    float Level() const { return left ? step * left : 1.0f; }
    // From the level it has now; a fade under way that ends sooner is kept.
    void Start(uint32_t frames)
    {
        if (left && left <= frames)
            return;
        const float level = Level();
        left = frames ? frames : 1;
        step = level / left;
    }
};

// An earlier hit of a channel with several voices, ringing on beside the
// newest, which is the channel's own play state. Held in memory only.
struct Ringing {
    uint32_t gen = 0;    // the channel's generation when it was the newest; 0: free slot
    uint64_t devPos = 0; // next device frame to mix
    float gain = 1.0f;   // the hit's own gain, times the channel's volume
    Fade fade;
    bool stolen = false; // let go for a newer hit: fading out, no longer counted
    bool startProbe = false;
    int64_t playedAt = 0;
    uint32_t lane = 0;
};

struct Channel {
    uint32_t handle = 0; // 0: free slot
    std::shared_ptr<Source> audio;
    PlayState state = PlayState::Stopped;
    float volume = 1.0f;
    uint64_t baseFrame = 0; // file frame of the last reposition
    uint64_t playedDev = 0; // device frames mixed since
    bool atEnd = false;
    uint32_t gen = 1;        // bumped by every reposition
    bool startProbe = false; // first frames after a play call not yet mixed
    int64_t playedAt = 0;    // the clock at the last play call
    uint32_t lane = 0;       // the output lane that mixes it
    float hitGain = 1.0f;    // the newest hit's gain (BASS_ChannelPlayGain)
    Fade fade;               // the newest hit's fade-out
    uint32_t voices = 1;     // voices it may sound at once
    uint32_t ringingCount = 0;
    Ringing ringing[kRingingSlots];
};

struct Sync {
    uint32_t handle;
    uint32_t channel;
    void* proc;
    void* user;
    bool oneTime;
};

// A freed channel's source, and for each lane that was mixing when it was
// freed the block count it must pass before nothing reads the source.
struct RetiredSource {
    std::shared_ptr<Source> audio;
    uint64_t until[kLanes];
};

extern std::mutex TableLock; // held only for short copies, never across I/O or callbacks
extern Channel Table[kMaxChannels];
extern std::vector<Sync> Syncs;
extern std::vector<RetiredSource> Retired;
// Channels that ended, for the end-routine thread.
extern uint32_t EndEvents[kMaxEvents];
extern size_t EventHead, EventCount;
extern uint32_t DeviceRate;
extern SyncInvoker Invoker;
extern std::condition_variable FeederWake, SyncWake;
extern std::atomic<ClockFn> Clock;

// A channel's voices (channel_voices.cpp), under the table's lock.
// Before a new hit of a channel with several voices: the newest, if it
// still sounds, rings on, and the oldest past the count is stolen.
void RingOn(Channel& ch);
// Steals the oldest voices until `keep` are left.
void StealVoices(Channel& ch, uint32_t keep);
// Voices sounding now, stolen ones not counted.
uint32_t CountVoices(const Channel& ch);
// Every voice fades to silence over `ms`.
void FadeVoices(Channel& ch, uint32_t ms);
// The ringing voices end at once and the newest's fade is dropped.
void SilenceVoices(Channel& ch);
void FreeRinging(Channel& ch, Ringing& r);

// The feeder and end-routine threads (channel_threads.cpp).
void StartThreads();
void StopThreads();

} // namespace channels

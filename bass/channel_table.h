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

// The feeder and end-routine threads (channel_threads.cpp).
void StartThreads();
void StopThreads();

} // namespace channels

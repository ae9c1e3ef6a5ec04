#pragma once
// The channel table: one instance (channels.cpp), handed by reference to
// the voices (channel_voices.cpp), the mixing (channel_render.cpp) and the
// feeder and end-routine threads (channel_threads.cpp). Its lock guards
// every field but the mixer's own side of each lane.
#include <atomic>
#include <condition_variable>
#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "bass/channels.h"
#include "bass/mixer.h"
#include "bass/source.h"

namespace channels {

constexpr uint32_t kSlotBits = 10;
constexpr uint32_t kMaxChannels = 1u << kSlotBits;
constexpr size_t kMaxEvents = 1024;
// Voices a lane mixes in one chunk, and the chunk's most frames.
constexpr size_t kMaxVoices = 256;
constexpr size_t kChunkFrames = 2048;

enum class PlayState { Stopped, Playing, Paused };

// Room for a channel's sounding voices and the stolen ones still fading
// out beside them.
constexpr uint32_t kVoiceSlots = 2 * kMaxChannelVoices + 1;
static_assert(kVoiceSlots <= 16, "a channel's slots in use are one 16-bit mask");
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

// One voice of a channel: a hit sounding from its source. The channel's
// newest voice is its play head (its position is the channel's, and it
// stays when it ends); an older one rings on until its end or its fade.
struct VoiceSlot {
    Source* source = nullptr; // what it reads; the channel keeps it alive
    uint64_t base = 0;        // file frame it started from or was moved to
    uint64_t played = 0;      // device frames mixed since
    bool atEnd = false;       // played to the file's end
    uint32_t gen = 0;         // changes whenever a block mixed before must not be written back
    float gain = 1.0f;        // the hit's own (BASS_ChannelPlayGain), before the channel's volume
    Fade fade;
    bool stolen = false; // let go for a newer hit: fading out, not counted
    uint32_t lane = 0;   // the output lane that mixes it
    // Onset timing: its first frames are not mixed yet, and the clock at
    // the play call that placed it.
    bool startProbe = false;
    int64_t playedAt = 0;
};

struct Channel {
    uint32_t handle = 0; // 0: free slot
    std::shared_ptr<Source> audio;
    PlayState state = PlayState::Stopped;
    float volume = 1.0f;
    uint32_t voices = 1; // voices it may sound at once
    uint32_t gens = 1;   // the last generation given to a voice
    uint16_t used = 1;   // a bit per slot that holds a voice
    uint8_t newest = 0;  // the slot of the newest voice, always in use
    VoiceSlot slot[kVoiceSlots];
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

// A voice as the current chunk mixes it: a copy of its slot taken under
// the lock, and what mixing it did.
struct ChunkVoice {
    uint32_t channel, handle, voice, gen;
    Source* source;
    uint64_t devPos;   // memory sources: next frame to mix
    float gain;        // the hit's times the channel's volume
    uint32_t fadeLeft; // frames to silence, 0: not fading
    float fadeStep;    // the gain's fall per frame while fading
    bool probe;
    size_t offset; // silent frames before its first in this chunk
    size_t mixed;
    bool ended;
};

// The mixer's side of a lane, written by that lane's mixer thread alone;
// `blocks` and `mixing` change under the table's lock, as the retiring of
// a freed source reads them.
struct MixLane {
    ChunkVoice voices[kMaxVoices];
    // The blocks' timing: when the last block began, the clock time it
    // ended at, and how late it began, not yet followed.
    bool paced = false; // a block began since the table opened
    int64_t lastStart = 0;
    int64_t timeline = 0;
    int64_t gap = 0;
    float scratch[kChunkFrames * 2];
    Limiter limiter;
    uint64_t blocks = 0;
    bool mixing = false; // between a chunk's snapshot and its write-back
    Onset onsets[kMaxVoices];
    size_t onsetCount = 0; // of the last RenderMix
};

// A thread of the table with its own quit flag: one told to end from
// inside itself (BASS_Free in an end routine) is left to finish alone.
struct Worker {
    Worker() = default;
    Worker(Worker&&) = default;
    Worker& operator=(Worker&&) = default;
    // A program that exits without BASS_Free still has the threads running
    // when the library's globals are destroyed; the exit ends them anyway.
    ~Worker()
    {
        if (thread.joinable())
            thread.detach();
    }
    std::thread thread;
    std::shared_ptr<std::atomic<bool>> quit;
};

int64_t SteadyNanoseconds();

struct ChannelTable {
    std::mutex lock; // held only for short copies, never across I/O or callbacks
    bool open = false;
    uint32_t deviceRate = 44100;
    SyncInvoker invoker = nullptr;
    Channel channels[kMaxChannels];
    uint32_t serial = 0; // never reset, so handles are not reused soon
    uint32_t syncSerial = 0;
    uint32_t nextSlot = 0;
    std::vector<Sync> syncs;
    std::vector<RetiredSource> retired;
    // Room, reserved at open, for the sources at close: closing must not
    // need memory.
    std::vector<std::shared_ptr<Source>> closing;
    // Channels that ended, for the end-routine thread.
    uint32_t endEvents[kMaxEvents];
    size_t eventHead = 0, eventCount = 0;
    std::condition_variable feederWake, syncWake;
    std::atomic<ClockFn> clock{SteadyNanoseconds};
    MixLane lanes[kLanes];
    Worker feeder, deliverer;
};

// A channel's voices (channel_voices.cpp), under the table's lock.
inline VoiceSlot& Newest(Channel& ch)
{
    return ch.slot[ch.newest];
}
inline const VoiceSlot& Newest(const Channel& ch)
{
    return ch.slot[ch.newest];
}
// A new channel's one voice, stopped at the start of `audio`.
void MakeChannel(Channel& ch, uint32_t handle, std::shared_ptr<Source> audio);
// Moves the newest voice to file frame `frame` at a new generation.
void MoveNewest(Channel& ch, uint64_t frame);
// A hit starts a voice at the file's first frame, at `gain`. `anew`: at
// a new generation, in a slot of its own where the channel may sound
// several and its newest still sounds (that one rings on), else in the
// newest's place; otherwise the newest, which has not moved since its
// start, is only given the gain.
void StartVoice(ChannelTable& t, Channel& ch, float gain, bool anew);
// Whether the voice in slot `i` sounds or waits, paused, to sound on: an
// older voice until it ends (it leaves its slot then), the newest while
// the channel is not stopped and it has not played to its end.
bool Held(const Channel& ch, uint32_t i);
// Whether the voice in slot `i` sounds on its lane now: held, not paused.
bool Sounds(const Channel& ch, uint32_t i);
// Older voices ring on: slots in use besides the newest.
uint32_t OlderVoices(const Channel& ch);
// Steals the oldest voices until `keep` are left.
void StealVoices(ChannelTable& t, Channel& ch, uint32_t keep);
// Voices sounding now, stolen ones not counted.
uint32_t CountVoices(const Channel& ch);
// Every voice fades to silence over `ms`.
void FadeVoices(ChannelTable& t, Channel& ch, uint32_t ms);
// The older voices end at once and the newest's fade is dropped.
void SilenceVoices(Channel& ch);
void FreeVoice(Channel& ch, uint32_t i);

// The mixing (channel_render.cpp), on lane `lane`'s mixer thread.
void OpenLane(MixLane& lane, uint32_t deviceRate);
uint32_t Render(ChannelTable& t, float* out, size_t frames, size_t* voices, bool onTime, uint32_t lane);

// The feeder and end-routine threads (channel_threads.cpp).
void StartThreads(ChannelTable& t);
void EndThreads(ChannelTable& t);

} // namespace channels

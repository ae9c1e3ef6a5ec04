#include "bass/output.h"

#include <windows.h>

#include <avrt.h>
#include <mmsystem.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <mutex>
#include <utility>
#include <vector>

#include "bass/channels.h"
#include "bass/devices.h"
#include "bass/trace.h"

#ifdef OUTPUT_START_PROBE
StartProbe& OutputStartProbe()
{
    static StartProbe probe;
    return probe;
}
#endif

namespace {

#ifdef OUTPUT_START_PROBE
void Probe(uint32_t first, int64_t now, uint32_t queued)
{
    if (!first)
        return;
    StartProbe& p = OutputStartProbe();
    p.handle.store(first);
    p.ticks.store(now);
    p.queued.store(queued);
    p.seq.fetch_add(1);
}
#else
void Probe(uint32_t, int64_t, uint32_t)
{}
#endif

// After the last sound, this much silence on top of the device's buffer and
// stream latency is written before the device idles and drops its buffer:
// what it drops is silence.
constexpr double kIdleMarginMs = 20;
// While the device idles a recording still gets its silence, counted this
// often: a recording started meanwhile begins with at most this much of
// the time before it.
constexpr DWORD kIdleFeedMs = 20;
// A running device's wake-ups come within this; a longer wait ends only
// with the close.
constexpr DWORD kWakeMs = 200;
// The most a lane mixes at once.
constexpr size_t kBlockFrames = 65536;

// The output's side of a lane: its device, the mixer thread that feeds
// it, and on lane 0 the tap's feed and the click.
struct OutputLane {
    uint32_t index = 0;
    // Changed by Enter on the lane's mixer thread; Closing and Closed by
    // OutputClose. Read by the API threads and by the other lane.
    std::atomic<LaneState> state{LaneState::Closed};
    const OutputBackend* backend = nullptr;
    OutputFormat format;
    LanePolicy policy;
    HANDLE thread = nullptr;    // the mixer thread
    HANDLE openEvent = nullptr; // set once the thread has tried to open the device
    // Made once and never closed: a play call may set it while the output closes.
    HANDLE wake = nullptr;
    std::exception_ptr failure; // thrown while opening, rethrown to the caller
    std::vector<float> block;   // allocated by the caller: mixing allocates nothing
    // The mixer thread's clock: performance-counter ticks, and the device's
    // frames per tick (set when the output opens).
    double framesPerTick = 0;
    // When the device runs out of what was written.
    int64_t dryAt = 0;
    // Frames written since the last sound: the lane idles once they cover
    // what the device holds.
    uint64_t quiet = 0;
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
};

// The metronome as the program sets it: it outlasts BASS_Free, and each
// change reaches lane 0 as one word.
struct Metronome {
    std::mutex lock;
    ClickSettings settings;
    bool on = false;
    uint32_t starts = 0;
};

// The output: its lanes and what they share.
struct Output {
    OutputLane lanes[kLanes];
    // The device the lanes open: -1 the default, n the n-th wave output device.
    int device = -1;
    // The tests' own backends; null: the system's.
    const OutputBackend* only = nullptr;
    const OutputBackend* onlyHits = nullptr;
    HANDLE closeEvent = nullptr; // set by OutputClose: every wait of the lanes ends
    // Set once the channels are open: the lanes mix nothing before.
    HANDLE startEvent = nullptr;
    std::atomic<const OutputTap*> tap{nullptr};
    std::atomic<uint64_t> clickWord{0}; // the metronome's settings (bass/click.h)
    Metronome metronome;
};

Output Out;

void RaisePriority()
{
    DWORD task = 0;
    if (!AvSetMmThreadCharacteristicsW(L"Pro Audio", &task))
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

bool OpenBackend(OutputLane& lane)
{
    std::wstring endpoint;
    UINT wave = WAVE_MAPPER;
    if (Out.device != -1) {
        if (!DeviceEndpoint(Out.device, &endpoint))
            return false;
        wave = (UINT)(Out.device - 1);
    }
    const OutputBackend* system[] = {&WasapiOutput, &WaveOutOutput};
    const OutputBackend* hits = Out.onlyHits ? Out.onlyHits : &WasapiHitOutput;
    const OutputBackend* const* tried = lane.index ? &hits : Out.only ? &Out.only : system;
    size_t count = lane.index || Out.only ? 1 : 2;
    for (size_t i = 0; i < count; i++) {
        lane.format = OutputFormat();
        if (tried[i]->open(tried[i]->self, endpoint, wave, Out.closeEvent, &lane.format)) {
            lane.backend = tried[i];
            lane.policy = OutputPolicy(lane.format);
            return true;
        }
    }
    return false;
}

// A hit played now goes to its own lane: a listening tap brings the hits
// onto lane 0, whose mix it hears, and lane 0 holds no hit otherwise.
bool HitsOnTheirLane()
{
    const OutputTap* tap = Out.tap.load();
    return LaneIsOpen(Out.lanes[1].state.load()) && !(tap && tap->listening(tap->self));
}

void Hand(const float* stereo, uint32_t frames)
{
    if (const OutputTap* tap = Out.tap.load())
        tap->played(tap->self, stereo, frames);
}

void Mark(const TapMark& mark, uint64_t ahead)
{
    if (const OutputTap* tap = Out.tap.load())
        tap->placed(tap->self, mark, ahead);
}

// Something to play on the lane: voices, or on lane 0 a running click,
// which keeps it from idling.
bool HasSound(const OutputLane& lane, size_t voices)
{
    if (voices)
        return true;
    bool running = false;
    uint32_t starts = 0;
    ClickUnpack(Out.clickWord.load(), &running, &starts);
    return lane.index == 0 && running;
}

// Lane 0: the tap learns where the block's hits and beats start, and the
// click joins the block, known ahead like music. It goes into what a
// recording gets only when asked; either way the hits' own lane is not
// touched. Returns what the device gets.
const float* AddClick(OutputLane& lane, uint32_t frames)
{
    const uint64_t ahead = lane.heldIn - lane.heldOut;
    const Onset* onsets = nullptr;
    const size_t onsetCount = ChannelsOnsets(lane.index, &onsets);
    for (size_t i = 0; i < onsetCount; i++)
        Mark({onsets[i].handle, onsets[i].gain, 0, 0, 0}, ahead + onsets[i].at);
    const uint64_t word = Out.clickWord.load();
    bool running = false;
    uint32_t starts = 0;
    const ClickSettings s = ClickUnpack(word, &running, &starts);
    ClickBeat beats[16];
    size_t count = 0;
    const bool sounding = ClickRender(lane.click, word, lane.clickMono.data(), frames, beats, 16, &count);
    for (size_t i = 0; i < count; i++)
        Mark({0, lane.click.now.volume, beats[i].place, beats[i].beats, beats[i].milliBpm}, ahead + beats[i].at);
    if (!sounding)
        return lane.block.data();
    float* out = lane.block.data();
    if (!s.record) {
        out = lane.heard.data();
        std::copy(lane.block.begin(), lane.block.begin() + (size_t)frames * 2, out);
    }
    for (uint32_t i = 0; i < frames; i++) {
        const float c = lane.clickMono[i];
        out[2 * i] = std::clamp(out[2 * i] + c, -1.0f, 1.0f);
        out[2 * i + 1] = std::clamp(out[2 * i + 1] + c, -1.0f, 1.0f);
    }
    return out;
}

// The frames the lane keeps ahead of the device in its state.
uint32_t KeptAhead(const OutputLane& lane, LaneState state)
{
    const LanePolicy& p = lane.policy;
    const uint32_t keep = state == LaneState::Resumed ? p.startFrames : p.targetFrames;
    // Lane 0 then holds no hit, only music. Not before the start: what is
    // played first after the open is heard at once.
    if (lane.index == 0 && state != LaneState::Priming && HitsOnTheirLane())
        return std::max(keep, p.deepFrames);
    return keep;
}

// A C++ exception must not end this thread, and with it the process: a
// block that cannot be mixed plays as silence.
uint32_t MixOrSilence(const OutputLane& lane, float* out, uint32_t frames, size_t* voices, bool onTime)
{
    try {
        return RenderMix(out, frames, voices, onTime, lane.index);
    } catch (...) {
        std::fill(out, out + (size_t)frames * 2, 0.0f);
        *voices = 0;
        return 0;
    }
}

int64_t Now()
{
    LARGE_INTEGER now;
    QueryPerformanceCounter(&now);
    return now.QuadPart;
}

// Hands the oldest `frames` written to the tap.
void FeedOldest(OutputLane& lane, uint64_t frames)
{
    const uint64_t ring = lane.held.size() / 2;
    frames = std::min(frames, lane.heldIn - lane.heldOut);
    while (frames) {
        const uint64_t at = lane.heldOut % ring;
        const uint32_t n = (uint32_t)std::min(frames, ring - at);
        Hand(lane.held.data() + at * 2, n);
        lane.heldOut += n;
        frames -= n;
    }
}

// The device played all it was given but the `queued` frames it still holds.
void FeedPlayed(OutputLane& lane, uint32_t queued)
{
    const uint64_t held = lane.heldIn - lane.heldOut;
    if (held > queued)
        FeedOldest(lane, held - queued);
}

// Keeps the block until it plays. A ring that would overflow (a device
// holding more than the ring) hands its oldest frames on early.
void Hold(OutputLane& lane, uint32_t frames)
{
    const uint64_t ring = lane.held.size() / 2;
    if (lane.heldIn - lane.heldOut + frames > ring)
        FeedOldest(lane, lane.heldIn - lane.heldOut + frames - ring);
    for (uint32_t done = 0; done < frames;) {
        const uint64_t at = lane.heldIn % ring;
        const uint32_t n = (uint32_t)std::min<uint64_t>(frames - done, ring - at);
        std::copy(lane.block.begin() + (size_t)done * 2, lane.block.begin() + (size_t)(done + n) * 2,
                  lane.held.begin() + (size_t)at * 2);
        lane.heldIn += n;
        done += n;
    }
}

// Hands the mixed block to the device, and on lane 0 keeps it for the
// recording; `first`: the channel whose first frames it holds, behind
// `queued` frames.
void Write(OutputLane& lane, uint32_t frames, uint32_t first, uint32_t queued)
{
    const float* out = lane.index == 0 ? AddClick(lane, frames) : lane.block.data();
    if (lane.backend->write(lane.backend->self, out, frames) && lane.index == 0)
        Hold(lane, frames);
    const int64_t now = Now();
    lane.dryAt = now + (int64_t)((queued + frames) / lane.framesPerTick);
    Probe(first, now, queued);
}

// Lane 0 only: the recording's time is lane 0's.
void FeedSilence(OutputLane& lane, uint64_t frames)
{
    if (lane.index)
        return;
    const uint32_t room = (uint32_t)std::min<uint64_t>(frames, lane.block.size() / 2);
    std::fill(lane.block.begin(), lane.block.begin() + (size_t)room * 2, 0.0f);
    while (frames) {
        uint32_t n = (uint32_t)std::min<uint64_t>(frames, room);
        Hand(lane.block.data(), n);
        frames -= n;
    }
}

// The device found its buffer empty (the mixer thread came late, as under
// load): it played silence that no block holds. A recording gets that
// silence too, less what the device keeps after its buffer, so it stays as
// long as the time it covers.
void FeedRunDry(OutputLane& lane, uint32_t queued)
{
    if (queued)
        return;
    const OutputFormat& f = lane.format;
    const double frames = (Now() - lane.dryAt) * lane.framesPerTick - f.latencyMs * f.rate / 1000.0;
    if (frames > f.periodFrames) {
        FeedSilence(lane, (uint64_t)frames);
        // The click keeps the device's time: its beats in the gap are lost.
        if (lane.index == 0)
            ClickSkip(lane.click, (uint64_t)frames);
    }
}

// Every change of a lane's state, on its mixer thread, with what the change
// does to the device. A lane that OutputClose put in Closing stays there.
void Enter(OutputLane& lane, LaneState next)
{
    const OutputBackend& b = *lane.backend;
    switch (next) {
    case LaneState::Priming:
        // Nothing written yet: the device would run dry from its start.
        lane.dryAt = Now();
        lane.quiet = 0;
        break;
    case LaneState::Resumed:
        lane.quiet = 0;
        [[fallthrough]];
    case LaneState::Playing:
        // The device starts on what was written; refused, the lane idles
        // until the next play call tries again.
        if (b.start(b.self))
            break;
        next = LaneState::Idle;
        [[fallthrough]];
    case LaneState::Idle: {
        // The device is halted and emptied. The recording gets what it
        // played before, not what it dropped.
        const uint32_t dropped = b.idle ? b.idle(b.self) : 0;
        FeedPlayed(lane, dropped);
        lane.heldOut = lane.heldIn;
        break;
    }
    default:
        break;
    }
    LaneState now = lane.state.load();
    do {
        if (now == LaneState::Closing)
            return;
    } while (!lane.state.compare_exchange_weak(now, next));
}

// Idle: a play call starts the device again with its sound at the head of
// the empty buffer, as a fresh stream would start; a recording gets the
// silence of the idle time meanwhile. Returns true with the first block
// written, false when the output closes.
bool AwaitSound(OutputLane& lane)
{
    const int64_t since = Now();
    uint64_t fed = 0;
    HANDLE events[2] = {Out.closeEvent, lane.wake};
    // Only lane 0 has a recording's silence to count.
    const DWORD timeout = lane.index ? INFINITE : kIdleFeedMs;
    for (;;) {
        DWORD r = WaitForMultipleObjects(2, events, FALSE, timeout);
        if (lane.state.load() == LaneState::Closing)
            return false;
        const uint64_t elapsed = (uint64_t)((Now() - since) * lane.framesPerTick);
        if (elapsed > fed) {
            FeedSilence(lane, elapsed - fed);
            fed = elapsed;
        }
        if (r != WAIT_OBJECT_0 + 1)
            continue;
        // A wake can be stale (a play that the running device already
        // mixed): a block with nothing in it is no start, and mixing it
        // moved nothing.
        uint32_t frames = std::min<uint32_t>(lane.policy.startFrames, (uint32_t)(lane.block.size() / 2));
        size_t voices = 0;
        uint32_t first = MixOrSilence(lane, lane.block.data(), frames, &voices, false);
        if (HasSound(lane, voices)) {
            Write(lane, frames, first, 0);
            return true;
        }
    }
}

// The lane's mixer thread from OutputStart to OutputClose: each pass does
// what the lane's state asks, and the facts it meets decide the next.
void MixUntilClosed(OutputLane& lane)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const OutputFormat& f = lane.format;
    const OutputBackend& backend = *lane.backend;
    lane.framesPerTick = (double)f.rate / frequency.QuadPart;
    // Silence beyond what the device holds, before it may idle.
    const uint64_t margin = (uint64_t)((f.latencyMs + kIdleMarginMs) * f.rate / 1000.0);
    Enter(lane, LaneState::Priming);
    for (;;) {
        const LaneState state = lane.state.load();
        if (state == LaneState::Closing)
            return;
        if (state == LaneState::Idle) {
            if (AwaitSound(lane))
                Enter(lane, LaneState::Resumed);
            continue;
        }
        const bool priming = state == LaneState::Priming;
        uint32_t queued = 0;
        // Primed without waiting: the device has not started.
        uint32_t frames = backend.wait(backend.self, priming ? 0 : kWakeMs, &queued);
        if (lane.state.load() == LaneState::Closing)
            return;
        FeedPlayed(lane, queued);
        if (!priming)
            FeedRunDry(lane, queued);
        const uint32_t keep = KeptAhead(lane, state);
        frames = std::min({frames, keep > queued ? keep - queued : 0, (uint32_t)(lane.block.size() / 2)});
        if (frames) {
            size_t voices = 0;
            uint32_t first = MixOrSilence(lane, lane.block.data(), frames, &voices, !priming);
            Write(lane, frames, first, queued);
            lane.quiet = HasSound(lane, voices) ? 0 : lane.quiet + frames;
        }
        if (priming)
            Enter(lane, LaneState::Playing);
        // All the device holds is silence, and what it played before too.
        else if (lane.policy.idles && lane.quiet >= (uint64_t)queued + frames + margin)
            Enter(lane, LaneState::Idle);
    }
}

// Opens the device here, not on the caller's thread, so COM runs in this
// thread's own apartment whatever the caller's is. What the opening throws
// (out of memory) is handed to the caller's thread.
DWORD WINAPI MixerMain(void* param)
{
    OutputLane& lane = *static_cast<OutputLane*>(param);
    HRESULT co = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    bool opened = false;
    try {
        opened = OpenBackend(lane);
        // The hits' stream must run at the rate the channels were made for.
        if (opened && lane.index && lane.format.rate != Out.lanes[0].format.rate) {
            TraceLine("output: hit lane at %u Hz, not %u Hz: not used", lane.format.rate, Out.lanes[0].format.rate);
            lane.backend->close(lane.backend->self);
            opened = false;
        }
    } catch (...) {
        opened = false;
        lane.failure = std::current_exception();
    }
    if (opened)
        Enter(lane, LaneState::Opened);
    SetEvent(lane.openEvent);
    if (opened) {
        HANDLE events[2] = {Out.closeEvent, Out.startEvent};
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
            RaisePriority();
            MixUntilClosed(lane);
        }
        lane.backend->close(lane.backend->self);
    }
    if (SUCCEEDED(co))
        CoUninitialize();
    return 0;
}

// Starts the lane's mixer thread, which opens its device; true when it did.
bool StartLane(OutputLane& lane, uint32_t index)
{
    lane.index = index;
    lane.block.resize(kBlockFrames * 2);
    lane.heldIn = lane.heldOut = 0;
    lane.failure = nullptr;
    ResetEvent(lane.wake);
    lane.openEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (lane.openEvent)
        lane.thread = CreateThread(nullptr, 0, MixerMain, &lane, 0, nullptr);
    if (lane.thread)
        WaitForSingleObject(lane.openEvent, INFINITE);
    if (lane.openEvent)
        CloseHandle(lane.openEvent);
    lane.openEvent = nullptr;
    return lane.thread && lane.state.load() == LaneState::Opened;
}

void PublishMetronome(const Metronome& m)
{
    OutputSetClick(ClickPack(m.settings, m.on, m.starts));
}

} // namespace

LanePolicy OutputPolicy(const OutputFormat& device)
{
    LanePolicy p;
    if (device.wholeBuffers) {
        // The device plays one buffer while the next is written: at each
        // wake-up the one it plays is queued and a whole one is written
        // behind it. Nothing else is queued, so idling would gain
        // nothing.
        p.targetFrames = 2 * device.bufferFrames;
        p.startFrames = device.bufferFrames;
    } else if (!device.canIdle) {
        // A queue of short buffers, kept full.
        p.targetFrames = device.bufferFrames;
        p.startFrames = device.periodFrames;
    } else {
        // The engine takes whole periods at its wake-up and we refill at once
        // after it: one period ahead at the classic 10 ms period (measured
        // clean under Wine, where a fill that is not a whole number of periods
        // drops out), two at the short periods of IAudioClient3. Hits, where
        // this stream plays them, are kept to the first three periods of a
        // deep buffer; music alone fills it.
        const uint32_t shallow = std::min(device.bufferFrames, 3 * device.periodFrames);
        p.targetFrames = std::min(shallow, (device.shortPeriods ? 2 : 1) * device.periodFrames);
        // After a start from idle three periods are kept ahead, not one (the
        // whole buffer of a stream at the minimum period): under Wine such a
        // stream lacks the 20 ms the engine queued at the first start, and half
        // the starts broke for 20 to 30 ms (none with three). Written before the
        // start, too: the hit is at its head either way.
        p.startFrames = shallow;
        p.deepFrames = device.bufferFrames > shallow ? device.bufferFrames : 0;
        p.idles = true;
    }
    return p;
}

bool OutputOpen(int device, const OutputBackend* only, const OutputBackend* onlyHits)
{
    OutputLane& first = Out.lanes[0];
    if (first.thread)
        return false;
    for (OutputLane& lane : Out.lanes)
        if (!lane.wake)
            lane.wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!Out.lanes[0].wake || !Out.lanes[1].wake)
        return false;
    // Out of memory here, nothing is made yet.
    first.block.resize(kBlockFrames * 2);
    first.held.resize(kBlockFrames * 2);
    first.clickMono.resize(kBlockFrames);
    first.heard.resize(kBlockFrames * 2);
    Out.device = device;
    Out.only = only;
    Out.onlyHits = onlyHits;
    Out.closeEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    Out.startEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!Out.closeEvent || !Out.startEvent || !StartLane(first, 0)) {
        OutputClose();
        if (first.failure)
            std::rethrow_exception(std::exchange(first.failure, nullptr));
        return false;
    }
    // The click starts again on the new device's time, with a new bar.
    try {
        ClickReset(first.click, first.format.rate);
    } catch (...) {
        OutputClose();
        throw;
    }
    // A second stream only where the first is shared and idles (an
    // exclusive stream holds the device alone). Without it everything
    // plays on the first.
    const bool system = !only && first.backend == &WasapiOutput;
    if (first.policy.idles && (system || onlyHits)) {
        try {
            StartLane(Out.lanes[1], 1);
        } catch (...) {
        }
        Out.lanes[1].failure = nullptr;
    }
    return true;
}

void OutputClose()
{
    for (OutputLane& lane : Out.lanes)
        if (lane.thread)
            lane.state.store(LaneState::Closing);
    if (Out.closeEvent)
        SetEvent(Out.closeEvent);
    for (OutputLane& lane : Out.lanes) {
        if (lane.thread) {
            WaitForSingleObject(lane.thread, INFINITE);
            CloseHandle(lane.thread);
        }
        lane.thread = nullptr;
        lane.backend = nullptr;
        lane.state.store(LaneState::Closed);
    }
    for (HANDLE* event : {&Out.closeEvent, &Out.startEvent}) {
        if (*event)
            CloseHandle(*event);
        *event = nullptr;
    }
}

void OutputStart()
{
    SetEvent(Out.startEvent);
}

void OutputWake(uint32_t lane)
{
    if (lane < kLanes)
        SetEvent(Out.lanes[lane].wake);
}

bool OutputHasHitLane()
{
    return LaneIsOpen(Out.lanes[1].state.load());
}

bool OutputPlay(uint32_t handle, bool restart, int64_t* playedAt, float gain)
{
    uint32_t lane = 0;
    if (!ChannelPlay(handle, restart, HitsOnTheirLane() ? 1 : 0, &lane, playedAt, gain))
        return false;
    OutputWake(lane);
    return true;
}

void OutputSetClick(uint64_t word)
{
    Out.clickWord.store(word);
    OutputWake(0);
}

void OutputSetMetronome(const ClickSettings& settings)
{
    std::lock_guard<std::mutex> hold(Out.metronome.lock);
    Out.metronome.settings = settings;
    PublishMetronome(Out.metronome);
}

void OutputRunMetronome(bool on)
{
    Metronome& m = Out.metronome;
    std::lock_guard<std::mutex> hold(m.lock);
    // A start begins a new bar, even one that follows a switch-off within
    // the same block.
    if (on && !m.on)
        m.starts++;
    m.on = on;
    PublishMetronome(m);
}

void OutputSetTap(const OutputTap* tap)
{
    Out.tap.store(tap);
}

const OutputFormat& OutputCurrentFormat()
{
    return Out.lanes[0].format;
}

const OutputFormat& OutputHitLaneFormat()
{
    return Out.lanes[1].format;
}

const LanePolicy& OutputCurrentPolicy()
{
    return Out.lanes[0].policy;
}

const LanePolicy& OutputHitLanePolicy()
{
    return Out.lanes[1].policy;
}

const char* OutputBackendName()
{
    return Out.lanes[0].backend ? Out.lanes[0].backend->name : "";
}

#include "bass/output.h"

#include <windows.h>

#include <avrt.h>
#include <mmsystem.h>
#include <objbase.h>

#include <algorithm>
#include <atomic>
#include <exception>
#include <utility>
#include <vector>

#include "bass/channels.h"
#include "bass/devices.h"
#include "bass/trace.h"

#ifdef OUTPUT_START_PROBE
StartProbe OutputStartProbe;
#endif

namespace {

#ifdef OUTPUT_START_PROBE
void Probe(uint32_t first, int64_t now, uint32_t queued)
{
    if (!first)
        return;
    OutputStartProbe.handle.store(first);
    OutputStartProbe.ticks.store(now);
    OutputStartProbe.queued.store(queued);
    OutputStartProbe.seq.fetch_add(1);
}
#else
void Probe(uint32_t, int64_t, uint32_t)
{}
#endif

// After the last sound, this much silence on top of the device's buffer and
// stream latency is written before the device stops and drops its buffer:
// what it drops is silence.
constexpr double kIdleMarginMs = 20;
// While the device is stopped a recording still gets its silence, counted
// this often: a recording started meanwhile begins with at most this much
// of the time before it.
constexpr DWORD kIdleFeedMs = 20;
// A running device's wake-ups come within this; a longer wait ends only
// with the stop.
constexpr DWORD kWakeMs = 200;
// The most a lane mixes at once.
constexpr size_t kBlockFrames = 65536;

const OutputBackend* OnlyBackend = nullptr;
const OutputBackend* OnlyHitBackend = nullptr;
HANDLE StopEvent = nullptr;
// Set once the channels are open: the lanes mix nothing before.
HANDLE StartEvent = nullptr;
std::atomic<bool> StopFlag{false};
std::atomic<bool> HitLaneOpen{false};
std::atomic<const OutputTap*> Tap{nullptr};
std::atomic<uint64_t> ClickWord{0};
int OpenDevice = -1;

void RaisePriority()
{
    DWORD task = 0;
    if (!AvSetMmThreadCharacteristicsW(L"Pro Audio", &task))
        SetThreadPriority(GetCurrentThread(), THREAD_PRIORITY_TIME_CRITICAL);
}

bool OpenBackend(Lane& lane)
{
    std::wstring endpoint;
    UINT wave = WAVE_MAPPER;
    if (OpenDevice != -1) {
        if (!DeviceEndpoint(OpenDevice, &endpoint))
            return false;
        wave = (UINT)(OpenDevice - 1);
    }
    const OutputBackend* system[] = {&WasapiOutput, &WaveOutOutput};
    const OutputBackend* hits = OnlyHitBackend ? OnlyHitBackend : &WasapiHitOutput;
    const OutputBackend* const* tried = lane.index ? &hits : OnlyBackend ? &OnlyBackend : system;
    size_t count = lane.index || OnlyBackend ? 1 : 2;
    for (size_t i = 0; i < count; i++) {
        lane.format = OutputFormat();
        if (tried[i]->open(tried[i]->self, endpoint, wave, StopEvent, &lane.format)) {
            lane.backend = tried[i];
            lane.policy = OutputPolicy(lane.format);
            return true;
        }
    }
    return false;
}

// A hit played now goes to its own lane: a listening tap takes the hits
// onto lane 0, whose mix it hears, and lane 0 holds no hit otherwise.
bool HitsOnTheirLane()
{
    const OutputTap* tap = Tap.load();
    return HitLaneOpen.load() && !(tap && tap->listening(tap->self));
}

void Hand(const float* stereo, uint32_t frames)
{
    if (const OutputTap* tap = Tap.load())
        tap->played(tap->self, stereo, frames);
}

void Mark(const TapMark& mark, uint64_t ahead)
{
    if (const OutputTap* tap = Tap.load())
        tap->placed(tap->self, mark, ahead);
}

bool ClickRunning()
{
    bool running = false;
    uint32_t starts = 0;
    ClickUnpack(ClickWord.load(), &running, &starts);
    return running;
}

// Lane 0: the tap learns where the block's hits and beats start, and the
// click joins the block, known ahead like music. It goes into what a
// recording gets only when asked; either way the hits' own lane is not
// touched. Returns what the device gets.
const float* AddClick(Lane& lane, uint32_t frames)
{
    const uint64_t ahead = lane.heldIn - lane.heldOut;
    for (size_t i = 0; i < lane.onsetCount; i++)
        Mark({lane.onsets[i].handle, lane.onsets[i].gain, 0, 0, 0}, ahead + lane.onsets[i].at);
    const uint64_t word = ClickWord.load();
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
uint32_t KeptAhead(const Lane& lane)
{
    const LanePolicy& p = lane.policy;
    const uint32_t keep = lane.state == LaneState::Resumed ? p.startFrames : p.targetFrames;
    // Lane 0 then holds no hit, only music. Not before the start: what is
    // played first after the open is heard at once.
    if (lane.index == 0 && lane.state != LaneState::Priming && HitsOnTheirLane())
        return std::max(keep, p.deepFrames);
    return keep;
}

// A C++ exception must not end this thread, and with it the process: a
// block that cannot be mixed plays as silence.
uint32_t MixOrSilence(const Lane& lane, float* out, uint32_t frames, size_t* voices, bool onTime)
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
void FeedOldest(Lane& lane, uint64_t frames)
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
void FeedPlayed(Lane& lane, uint32_t queued)
{
    const uint64_t held = lane.heldIn - lane.heldOut;
    if (held > queued)
        FeedOldest(lane, held - queued);
}

// Keeps the block until it plays. A ring that would overflow (a device
// holding more than the ring) hands its oldest frames on early.
void Hold(Lane& lane, uint32_t frames)
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
void Write(Lane& lane, uint32_t frames, uint32_t first, uint32_t queued)
{
    const float* out = lane.index == 0 ? AddClick(lane, frames) : lane.block.data();
    if (lane.backend->write(lane.backend->self, out, frames) && lane.index == 0)
        Hold(lane, frames);
    const int64_t now = Now();
    lane.dryAt = now + (int64_t)((queued + frames) / lane.framesPerTick);
    Probe(first, now, queued);
}

// Lane 0 only: the recording's time is lane 0's.
void FeedSilence(Lane& lane, uint64_t frames)
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
void FeedRunDry(Lane& lane, uint32_t queued)
{
    if (queued || !lane.dryAt)
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

// Into Idle: the device is stopped and emptied. The recording gets what it
// played before the stop, not what it dropped.
void Stop(Lane& lane)
{
    const uint32_t dropped = lane.backend->idle ? lane.backend->idle(lane.backend->self) : 0;
    FeedPlayed(lane, dropped);
    lane.heldOut = lane.heldIn;
    lane.state = LaneState::Idle;
}

// Starts the device on what was written; refused, the lane idles until the
// next play call tries again.
void Start(Lane& lane, LaneState running)
{
    if (lane.backend->start(lane.backend->self))
        lane.state = running;
    else
        Stop(lane);
}

// Idle: a play call starts the device again with its sound at the head of
// the empty buffer, as a fresh stream would start; a recording gets the
// silence of the stopped time meanwhile. Returns true with the first block
// written, false when the output closes.
bool AwaitSound(Lane& lane)
{
    const int64_t since = Now();
    uint64_t fed = 0;
    HANDLE events[2] = {StopEvent, lane.wake};
    // Only lane 0 has a recording's silence to count.
    const DWORD timeout = lane.index ? INFINITE : kIdleFeedMs;
    for (;;) {
        DWORD r = WaitForMultipleObjects(2, events, FALSE, timeout);
        if (StopFlag.load())
            return false;
        const uint64_t elapsed = (uint64_t)((Now() - since) * lane.framesPerTick);
        if (elapsed > fed) {
            FeedSilence(lane, elapsed - fed);
            fed = elapsed;
        }
        if (r != WAIT_OBJECT_0 + 1)
            continue;
        // A wake can be stale (a play that the running device already
        // took): a block with nothing in it is no start, and mixing it
        // moved nothing.
        uint32_t frames = std::min<uint32_t>(lane.policy.startFrames, (uint32_t)(lane.block.size() / 2));
        size_t voices = 0;
        uint32_t first = MixOrSilence(lane, lane.block.data(), frames, &voices, false);
        if (voices || (lane.index == 0 && ClickRunning())) {
            Write(lane, frames, first, 0);
            return true;
        }
    }
}

// The lane's mixer thread from OutputStart to OutputClose, state by state.
void Play(Lane& lane)
{
    LARGE_INTEGER frequency;
    QueryPerformanceFrequency(&frequency);
    const OutputFormat& f = lane.format;
    const OutputBackend* backend = lane.backend;
    lane.framesPerTick = (double)f.rate / frequency.QuadPart;
    // Silence beyond what the device holds, before it may idle.
    const uint64_t margin = (uint64_t)((f.latencyMs + kIdleMarginMs) * f.rate / 1000.0);
    uint64_t quiet = 0; // frames written since the last sound
    lane.state = LaneState::Priming;
    while (!StopFlag.load()) {
        if (lane.state == LaneState::Idle) {
            if (!AwaitSound(lane))
                break;
            Start(lane, LaneState::Resumed);
            quiet = 0;
            continue;
        }
        const bool priming = lane.state == LaneState::Priming;
        uint32_t queued = 0;
        // Primed without waiting: the device has not started.
        uint32_t frames = backend->wait(backend->self, priming ? 0 : kWakeMs, &queued);
        if (StopFlag.load())
            break;
        FeedPlayed(lane, queued);
        if (!priming)
            FeedRunDry(lane, queued);
        const uint32_t keep = KeptAhead(lane);
        frames = std::min({frames, keep > queued ? keep - queued : 0, (uint32_t)(lane.block.size() / 2)});
        if (frames) {
            size_t voices = 0;
            uint32_t first = MixOrSilence(lane, lane.block.data(), frames, &voices, !priming);
            Write(lane, frames, first, queued);
            quiet = voices || (lane.index == 0 && ClickRunning()) ? 0 : quiet + frames;
        }
        if (priming)
            Start(lane, LaneState::Playing);
        // All the device holds is silence, and what it played before too.
        else if (lane.policy.idleStop && quiet >= (uint64_t)queued + frames + margin)
            Stop(lane);
    }
}

// Opens the device here, not on the caller's thread, so COM runs in this
// thread's own apartment whatever the caller's is. What the opening throws
// (out of memory) is handed to the caller's thread.
DWORD WINAPI MixerMain(void* param)
{
    Lane& lane = *static_cast<Lane*>(param);
    HRESULT co = CoInitializeEx(nullptr, COINIT_MULTITHREADED);
    try {
        lane.openResult = OpenBackend(lane);
        // The hits' stream must run at the rate the channels were made for.
        if (lane.openResult && lane.index && lane.format.rate != Lanes[0].format.rate) {
            TraceLine("output: hit lane at %u Hz, not %u Hz: not used", lane.format.rate, Lanes[0].format.rate);
            lane.backend->close(lane.backend->self);
            lane.openResult = false;
        }
    } catch (...) {
        lane.openResult = false;
        lane.failure = std::current_exception();
    }
    if (lane.openResult)
        lane.state = LaneState::Opened;
    SetEvent(lane.opened);
    HANDLE events[2] = {StopEvent, StartEvent};
    if (lane.openResult) {
        if (WaitForMultipleObjects(2, events, FALSE, INFINITE) == WAIT_OBJECT_0 + 1) {
            RaisePriority();
            Play(lane);
        }
        lane.backend->stop(lane.backend->self);
        lane.backend->close(lane.backend->self);
        lane.state = LaneState::Closed;
    }
    if (SUCCEEDED(co))
        CoUninitialize();
    return 0;
}

// Starts the lane's mixer thread, which opens its device; true when it did.
bool StartLane(Lane& lane, uint32_t index)
{
    lane.index = index;
    lane.block.resize(kBlockFrames * 2);
    lane.heldIn = lane.heldOut = 0;
    lane.dryAt = 0;
    lane.failure = nullptr;
    lane.openResult = false;
    ResetEvent(lane.wake);
    lane.opened = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (lane.opened)
        lane.thread = CreateThread(nullptr, 0, MixerMain, &lane, 0, nullptr);
    if (lane.thread)
        WaitForSingleObject(lane.opened, INFINITE);
    if (lane.opened)
        CloseHandle(lane.opened);
    lane.opened = nullptr;
    return lane.thread && lane.openResult;
}

} // namespace

LanePolicy OutputPolicy(const OutputFormat& device)
{
    LanePolicy p;
    if (device.wholeBuffers) {
        // The device plays one buffer while the next is written: at each
        // wake-up the one it plays is queued and a whole one is written
        // behind it. Nothing else is queued, so stopping while idle would
        // gain nothing.
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
        p.idleStop = true;
    }
    return p;
}

bool OutputOpen(int device, const OutputBackend* only, const OutputBackend* onlyHits)
{
    if (Lanes[0].thread)
        return false;
    for (Lane& lane : Lanes)
        if (!lane.wake)
            lane.wake = CreateEventW(nullptr, FALSE, FALSE, nullptr);
    if (!Lanes[0].wake || !Lanes[1].wake)
        return false;
    // Out of memory here, nothing is made yet.
    Lanes[0].block.resize(kBlockFrames * 2);
    Lanes[0].held.resize(kBlockFrames * 2);
    Lanes[0].clickMono.resize(kBlockFrames);
    Lanes[0].heard.resize(kBlockFrames * 2);
    OpenDevice = device;
    OnlyBackend = only;
    OnlyHitBackend = onlyHits;
    StopFlag.store(false);
    StopEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    StartEvent = CreateEventW(nullptr, TRUE, FALSE, nullptr);
    if (!StopEvent || !StartEvent || !StartLane(Lanes[0], 0)) {
        OutputClose();
        if (Lanes[0].failure)
            std::rethrow_exception(std::exchange(Lanes[0].failure, nullptr));
        return false;
    }
    // The click starts again on the new device's time, with a new bar.
    try {
        ClickReset(Lanes[0].click, Lanes[0].format.rate);
    } catch (...) {
        OutputClose();
        throw;
    }
    // A second stream only where the first is shared and stops while idle
    // (an exclusive stream holds the device alone). Without it everything
    // plays on the first, as before.
    const bool system = !only && Lanes[0].backend == &WasapiOutput;
    if (Lanes[0].policy.idleStop && (system || onlyHits)) {
        try {
            HitLaneOpen.store(StartLane(Lanes[1], 1));
        } catch (...) {
            HitLaneOpen.store(false);
        }
        Lanes[1].failure = nullptr;
    }
    return true;
}

void OutputClose()
{
    HitLaneOpen.store(false);
    StopFlag.store(true);
    if (StopEvent)
        SetEvent(StopEvent);
    for (Lane& lane : Lanes) {
        if (lane.thread) {
            WaitForSingleObject(lane.thread, INFINITE);
            CloseHandle(lane.thread);
        }
        lane.thread = nullptr;
        lane.backend = nullptr;
    }
    for (HANDLE* event : {&StopEvent, &StartEvent}) {
        if (*event)
            CloseHandle(*event);
        *event = nullptr;
    }
}

void OutputStart()
{
    SetEvent(StartEvent);
}

void OutputWake(uint32_t lane)
{
    if (lane < kLanes)
        SetEvent(Lanes[lane].wake);
}

bool OutputHasHitLane()
{
    return HitLaneOpen.load();
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
    ClickWord.store(word);
    OutputWake(0);
}

void OutputSetTap(const OutputTap* tap)
{
    Tap.store(tap);
}

const OutputFormat& OutputCurrentFormat()
{
    return Lanes[0].format;
}

const OutputFormat& OutputHitLaneFormat()
{
    return Lanes[1].format;
}

const LanePolicy& OutputCurrentPolicy()
{
    return Lanes[0].policy;
}

const LanePolicy& OutputHitLanePolicy()
{
    return Lanes[1].policy;
}

const char* OutputBackendName()
{
    return Lanes[0].backend ? Lanes[0].backend->name : "";
}

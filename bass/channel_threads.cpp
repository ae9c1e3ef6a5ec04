// The channel table's own threads: the feeder decodes ahead in the
// streams and frees what the mixer let go of; the deliverer calls the end
// routines, outside the table's lock.
#include <algorithm>
#include <chrono>
#include <thread>
#include <utility>

#include "bass/channel_table.h"

namespace channels {
namespace {

constexpr size_t kMaxSyncsPerEvent = 16;

// One flag per thread instance: a thread told to stop from inside itself
// (BASS_Free in an end routine) is left to finish alone.
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
    std::shared_ptr<std::atomic<bool>> stop;
};

Worker Feeder, Deliverer;

// One round of the feeder: frees what the mixer has let go, then decodes
// ahead in every stream. True when it decoded anything.
bool Feed(std::vector<std::shared_ptr<Source>>& streams, std::vector<std::shared_ptr<Source>>& dead)
{
    {
        std::unique_lock<std::mutex> hold(TableLock);
        streams.clear();
        for (Channel& ch : Table)
            if (ch.handle && ch.audio->isStream)
                streams.push_back(ch.audio);
        // Free what no lane can still be reading, outside the lock.
        auto keep = std::partition(Retired.begin(), Retired.end(), [](const RetiredSource& r) {
            for (uint32_t l = 0; l < kLanes; l++)
                if (Lanes[l].blocks < r.until[l])
                    return true;
            return false;
        });
        for (auto it = keep; it != Retired.end(); ++it)
            dead.push_back(std::move(it->audio));
        Retired.erase(keep, Retired.end());
    }
    dead.clear();
    bool work = false;
    for (auto& s : streams)
        work |= static_cast<StreamSource&>(*s).Fill();
    streams.clear();
    return work;
}

void FeederMain(std::shared_ptr<std::atomic<bool>> stop)
{
    std::vector<std::shared_ptr<Source>> streams;
    std::vector<std::shared_ptr<Source>> dead;
    while (!stop->load()) {
        bool work = false;
        try {
            streams.reserve(kMaxChannels);
            dead.reserve(kMaxChannels);
            work = Feed(streams, dead);
        } catch (...) {
            // Out of memory while decoding: a stream misses a block, and the
            // feeder tries again after its pause instead of ending the process.
            streams.clear();
            dead.clear();
        }
        if (work)
            continue;
        std::unique_lock<std::mutex> hold(TableLock);
        FeederWake.wait_for(hold, std::chrono::milliseconds(20), [&] { return stop->load(); });
    }
}

void DelivererMain(std::shared_ptr<std::atomic<bool>> stop)
{
    Sync calls[kMaxSyncsPerEvent];
    std::unique_lock<std::mutex> hold(TableLock);
    while (!stop->load()) {
        if (!EventCount) {
            SyncWake.wait(hold, [&] { return stop->load() || EventCount; });
            continue;
        }
        uint32_t channel = EndEvents[EventHead];
        EventHead = (EventHead + 1) % kMaxEvents;
        EventCount--;
        size_t n = 0;
        for (const Sync& s : Syncs)
            if (s.channel == channel && n < kMaxSyncsPerEvent)
                calls[n++] = s;
        Syncs.erase(std::remove_if(Syncs.begin(), Syncs.end(),
                                   [&](const Sync& s) { return s.channel == channel && s.oneTime; }),
                    Syncs.end());
        SyncInvoker invoke = Invoker;
        hold.unlock();
        for (size_t i = 0; i < n && !stop->load(); i++) {
            // An end routine that throws loses its call, not this thread.
            try {
                invoke(calls[i].proc, calls[i].handle, calls[i].channel, calls[i].user);
            } catch (...) {
            }
        }
        hold.lock();
    }
}

Worker StartWorker(void (*main)(std::shared_ptr<std::atomic<bool>>))
{
    Worker w;
    w.stop = std::make_shared<std::atomic<bool>>(false);
    w.thread = std::thread(main, w.stop);
    return w;
}

void StopWorker(Worker& w, std::condition_variable& wake)
{
    if (!w.thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> hold(TableLock);
        w.stop->store(true);
    }
    wake.notify_all();
    if (w.thread.get_id() == std::this_thread::get_id())
        w.thread.detach();
    else
        w.thread.join();
    w = Worker();
}

} // namespace

void StartThreads()
{
    Feeder = StartWorker(FeederMain);
    Deliverer = StartWorker(DelivererMain);
}

void StopThreads()
{
    StopWorker(Feeder, FeederWake);
    StopWorker(Deliverer, SyncWake);
}

} // namespace channels

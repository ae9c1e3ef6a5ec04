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

// One round of the feeder: frees what the mixer has let go, then decodes
// ahead in every stream. True when it decoded anything.
bool Feed(ChannelTable& t, std::vector<std::shared_ptr<Source>>& streams, std::vector<std::shared_ptr<Source>>& dead)
{
    {
        std::unique_lock<std::mutex> hold(t.lock);
        streams.clear();
        for (Channel& ch : t.channels)
            if (ch.handle && ch.audio->isStream)
                streams.push_back(ch.audio);
        // Free what no lane can still be reading, outside the lock.
        auto keep = std::partition(t.retired.begin(), t.retired.end(), [&](const RetiredSource& r) {
            for (uint32_t l = 0; l < kLanes; l++)
                if (t.lanes[l].blocks < r.until[l])
                    return true;
            return false;
        });
        for (auto it = keep; it != t.retired.end(); ++it)
            dead.push_back(std::move(it->audio));
        t.retired.erase(keep, t.retired.end());
    }
    dead.clear();
    bool work = false;
    for (auto& s : streams)
        work |= static_cast<StreamSource&>(*s).Fill();
    streams.clear();
    return work;
}

void FeederMain(ChannelTable* table, std::shared_ptr<std::atomic<bool>> quit)
{
    ChannelTable& t = *table;
    std::vector<std::shared_ptr<Source>> streams;
    std::vector<std::shared_ptr<Source>> dead;
    while (!quit->load()) {
        bool work = false;
        try {
            streams.reserve(kMaxChannels);
            dead.reserve(kMaxChannels);
            work = Feed(t, streams, dead);
        } catch (...) {
            // Out of memory while decoding: a stream misses a block, and the
            // feeder tries again after its pause instead of ending the process.
            streams.clear();
            dead.clear();
        }
        if (work)
            continue;
        std::unique_lock<std::mutex> hold(t.lock);
        t.feederWake.wait_for(hold, std::chrono::milliseconds(20), [&] { return quit->load(); });
    }
}

void DelivererMain(ChannelTable* table, std::shared_ptr<std::atomic<bool>> quit)
{
    ChannelTable& t = *table;
    Sync calls[kMaxSyncsPerEvent];
    std::unique_lock<std::mutex> hold(t.lock);
    while (!quit->load()) {
        if (!t.eventCount) {
            t.syncWake.wait(hold, [&] { return quit->load() || t.eventCount; });
            continue;
        }
        uint32_t channel = t.endEvents[t.eventHead];
        t.eventHead = (t.eventHead + 1) % kMaxEvents;
        t.eventCount--;
        size_t n = 0;
        for (const Sync& s : t.syncs)
            if (s.channel == channel && n < kMaxSyncsPerEvent)
                calls[n++] = s;
        t.syncs.erase(std::remove_if(t.syncs.begin(), t.syncs.end(),
                                     [&](const Sync& s) { return s.channel == channel && s.oneTime; }),
                      t.syncs.end());
        SyncInvoker invoke = t.invoker;
        hold.unlock();
        for (size_t i = 0; i < n && !quit->load(); i++) {
            // An end routine that throws loses its call, not this thread.
            try {
                invoke(calls[i].proc, calls[i].handle, calls[i].channel, calls[i].user);
            } catch (...) {
            }
        }
        hold.lock();
    }
}

Worker StartWorker(ChannelTable& t, void (*main)(ChannelTable*, std::shared_ptr<std::atomic<bool>>))
{
    Worker w;
    w.quit = std::make_shared<std::atomic<bool>>(false);
    w.thread = std::thread(main, &t, w.quit);
    return w;
}

void EndWorker(ChannelTable& t, Worker& w, std::condition_variable& wake)
{
    if (!w.thread.joinable())
        return;
    {
        std::lock_guard<std::mutex> hold(t.lock);
        w.quit->store(true);
    }
    wake.notify_all();
    if (w.thread.get_id() == std::this_thread::get_id())
        w.thread.detach();
    else
        w.thread.join();
    w = Worker();
}

} // namespace

void StartThreads(ChannelTable& t)
{
    t.feeder = StartWorker(t, FeederMain);
    t.deliverer = StartWorker(t, DelivererMain);
}

void EndThreads(ChannelTable& t)
{
    EndWorker(t, t.feeder, t.feederWake);
    EndWorker(t, t.deliverer, t.syncWake);
}

} // namespace channels

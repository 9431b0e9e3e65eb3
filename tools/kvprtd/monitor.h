// The monitor: watches the printers of the fleet, one poll cycle after the
// other, and keeps what it learns (state.h) and records (store.h, events).
//
// Each printer goes through open (BceOpenPrinter), probe (one asynchronous
// device-status request: does it answer?), discovery (kvprt's Printer:
// printer information, CreatePrinterObject, the printer type, and the report's
// other sections) and then polls (poll.h). A printer's announced alerts
// (BceSetAlertCallback) are read with an extra poll at once.
//
// Every poll interval a cycle starts (or as soon as the last one ended):
// every printer that is due takes its next step, at most kWindow of those
// that are up at once (the others wait on their own threads anyway). A
// cycle ends when every printer that was up has answered or failed; the
// others are tried without holding it up. A printer that fails is marked
// down with the failure in words and tried again after 1, 2, 4 and 8
// cycles, then every 10. The report's other sections are gathered again
// every hour and whenever the printer comes back up. The outcome of a poll
// (snapshot, sample, events, next try) is a pure function (outcome.h); the
// schedule is in monitor.cpp, the steps of each printer in steps.cpp.
//
// Threads: one scheduler and two pools, whatever the size of the fleet. The
// steps of printers that answered their last request (polls, discovery,
// reports) run on kLiveThreads; those of printers that did not or are not
// seen yet (opening, probes, their polls) on kSuspectThreads, so that printers that do not
// answer cannot hold up the polls of the others even where the engine
// answers an asynchronous call only when its time-out ends. Only the
// scheduler changes a printer's state; readers (the HTTP server) see it
// under a shared lock.
#pragma once

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <functional>
#include <future>
#include <map>
#include <memory>
#include <mutex>
#include <shared_mutex>
#include <string_view>
#include <thread>
#include <vector>

#include "eventhub.h"
#include "fleet.h"
#include "printer_poll.h"
#include "store.h"
#include "tasks.h"

namespace kvprtd {

struct MonitorOptions {
    int sampleIntervalS = 900;   // page counts are recorded at most this often (0: every poll)
    bool exposeJobs = false;     // keep and serve jobs' names and users (poll.h)
};

// The poll-duration histogram and cycle figures.
struct PollStats {
    static constexpr double kBuckets[] = {0.005, 0.01, 0.025, 0.05, 0.1, 0.25, 0.5, 1, 2.5, 5, 10, 30};
    uint64_t counts[std::size(kBuckets)] = {};   // polls of at most kBuckets[i] seconds (not cumulated)
    uint64_t polls = 0;
    double seconds = 0;
    uint64_t cycles = 0;           // cycles finished
    double lastCycleSeconds = 0;   // the last finished cycle, until every printer that was up had its outcome
};

class Monitor {
public:
    static constexpr unsigned kLiveThreads = 6;
    static constexpr unsigned kSuspectThreads = 2;
    static constexpr size_t kWindow = 512;
    static constexpr size_t kMaxAnnounced = 16;   // per printer between two polls

    Monitor(Store& store, EventHub& hub, MonitorOptions options);
    // Stops (see stop()).
    ~Monitor();
    Monitor(const Monitor&) = delete;
    Monitor& operator=(const Monitor&) = delete;

    // Starts watching `printers`, polling every `pollIntervalS`.
    void start(const Fleet& fleet);
    // Watches `fleet` from now on: printers added start, removed ones stop
    // (their history stays), changed ones take their new settings (a new
    // URI opens the printer afresh). Returns once applied.
    void reload(const Fleet& fleet);
    // Stops starting work, waits for what is under way, closes every printer.
    void stop();

    int pollIntervalS() const { return m_intervalS; }
    PollStats stats() const;

    // `f(config, snapshot)` for every printer in the fleet file's order, under
    // the shared lock (keep it short: the scheduler waits for it).
    void forEach(const std::function<void(const PrinterConfig&, const Snapshot&)>& f) const;
    // `f(config, database id, snapshot)` for the printer `name`; false when there is none.
    bool with(std::string_view name, const std::function<void(const PrinterConfig&, int64_t, const Snapshot&)>& f) const;

private:
    struct Watched;
    using WatchedPtr = std::shared_ptr<Watched>;
    using Clock = std::chrono::steady_clock;

    // The scheduler's loop and what it runs.
    void run();
    void post(std::function<void()> job);
    void schedule();
    void startCycle(Clock::time_point now);
    void finishCycle();
    // Runs `work`, a step of `w`, on `pool`; after stop() the step ends there instead.
    void submit(TaskPool& pool, const WatchedPtr& w, std::function<void()> work);
    void dispatch(const WatchedPtr& w, bool inCycle);
    void step(const WatchedPtr& w);
    void startProbe(const WatchedPtr& w);
    void startPoll(const WatchedPtr& w);
    void startReport(const WatchedPtr& w);
    void polled(const WatchedPtr& w);
    void finished(const WatchedPtr& w);
    void failed(const WatchedPtr& w, const kvprt::Failure& why);
    void applyPoll(const WatchedPtr& w, const PollResult& r);
    void record(const WatchedPtr& w, std::vector<Event> events, int64_t now);
    void apply(const Fleet& fleet);
    std::future<void> queueApply(const Fleet& fleet);
    void retire(const WatchedPtr& w);
    WatchedPtr makeWatched(const PrinterConfig& config, int64_t id);
    void seed(const std::vector<WatchedPtr>& added);

    static void alertArrived(void* context, unsigned short handle, unsigned short alertId, unsigned long family);

    Store& m_store;
    EventHub& m_hub;
    const MonitorOptions m_options;
    std::atomic<int> m_intervalS{30};

    // Published state: the fleet in file order, under m_stateLock.
    mutable std::shared_mutex m_stateLock;
    std::vector<WatchedPtr> m_order;
    std::map<std::string, WatchedPtr, std::less<>> m_byName;

    // The scheduler's inbox.
    std::mutex m_inboxLock;
    std::condition_variable m_inboxWake;
    std::vector<std::function<void()>> m_inbox;
    bool m_stopping = false;
    std::atomic<bool> m_stopRequested{false};   // m_stopping, for the pools' threads

    // Scheduler thread only.
    uint64_t m_cycle = 0;
    bool m_cycleActive = false;
    Clock::time_point m_cycleStart, m_nextCycle;
    std::vector<WatchedPtr> m_cycleList;
    size_t m_cycleNext = 0, m_cycleLeft = 0;
    size_t m_inflight = 0;              // printers busy with a step
    size_t m_inflightUp = 0;            // of them, those dispatched while up (at most kWindow)
    bool m_halting = false;             // stop() was called: no new work
    std::vector<WatchedPtr> m_wanted;   // printers with announced alerts to read
    uint64_t m_nextKey = 1;
    uint64_t m_nextEventId = 1;

    mutable std::mutex m_statsLock;
    PollStats m_stats;

    TaskPool& poolFor(const Watched& w);
    TaskPool m_live{"kvprtd-live", kLiveThreads};
    TaskPool m_suspect{"kvprtd-suspect", kSuspectThreads};
    std::thread m_scheduler;
};

}  // namespace kvprtd

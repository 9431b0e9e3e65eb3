// The monitor's schedule (monitor.h): the fleet, the cycles, the window of
// printers at work, and the readers. The steps of each printer are in steps.cpp.
#include "monitor.h"

#include <algorithm>
#include <future>

#include <malloc.h>

#include "log.h"
#include "times.h"
#include "watched.h"

namespace kvprtd {
Monitor::Monitor(Store& store, EventHub& hub, MonitorOptions options)
    : m_store(store), m_hub(hub), m_options(options) {}

Monitor::~Monitor() { stop(); }

// ---- fleet ----

void Monitor::start(const Fleet& fleet) {
    m_nextEventId = m_store.lastEventId() + 1;
    m_hub.startAfter(m_nextEventId - 1);
    m_nextCycle = Clock::now();
    std::future<void> applied = queueApply(fleet);   // before the first cycle
    m_scheduler = std::thread(&Monitor::run, this);
    applied.wait();
}

void Monitor::reload(const Fleet& fleet) { queueApply(fleet).wait(); }

std::future<void> Monitor::queueApply(const Fleet& fleet) {
    auto applied = std::make_shared<std::promise<void>>();
    post([this, fleet, applied] {
        apply(fleet);
        applied->set_value();
    });
    return applied->get_future();
}

TaskPool& Monitor::poolFor(const Watched& w) { return w.track.answering ? m_live : m_suspect; }

Monitor::WatchedPtr Monitor::makeWatched(const PrinterConfig& config, int64_t id) {
    auto w = std::make_shared<Watched>();
    w->owner = this;
    w->self = w;
    w->dbId = id;
    w->config = config;
    return w;
}

// What the database remembers of printers new to this run: their last
// recorded health and their supplies' levels.
void Monitor::seed(const std::vector<WatchedPtr>& added) {
    if (added.empty()) return;
    const int64_t now = nowMs();
    auto health = m_store.lastHealth();
    auto levels = m_store.supplyLevels(now - LevelHistory::kWindowDays * kDayMs);
    for (const WatchedPtr& w : added) {
        if (auto h = health.find(w->dbId); h != health.end()) w->track.recorded = h->second;
        auto l = levels.find(w->dbId);
        if (l == levels.end()) continue;
        for (const StoredSupply& s : l->second) {
            SupplyLevel& level = w->track.level(s.supply.id);
            if (!std::isnan(s.supply.ratio)) level.history.add(s.time, s.supply.ratio);
            level.storedLevel = s.supply.level;
            level.storedCount = s.supply.levelCount;
            level.storedDay = s.time / kDayMs;
            auto known = std::find_if(w->snap.supplies.begin(), w->snap.supplies.end(),
                                      [&](const Supply& x) { return x.id == s.supply.id; });
            if (known == w->snap.supplies.end()) known = w->snap.supplies.insert(known, s.supply);
            *known = s.supply;
            known->daysLeft = level.history.daysLeft(now).value_or(NAN);
        }
    }
}

void Monitor::apply(const Fleet& fleet) {
    std::vector<std::string> names;
    for (const PrinterConfig& p : fleet.printers) names.push_back(p.name);
    auto ids = m_store.printerIds(names);

    std::vector<WatchedPtr> order, added;
    std::map<std::string, WatchedPtr, std::less<>> byName;
    for (const PrinterConfig& p : fleet.printers) {
        auto it = m_byName.find(p.name);
        WatchedPtr w;
        if (it != m_byName.end() && it->second->config.uri == p.uri) {
            w = it->second;
            if (w->config.location != p.location || w->config.tags != p.tags) {
                std::unique_lock guard(m_stateLock);
                w->config.location = p.location;
                w->config.tags = p.tags;
            }
        } else {
            w = makeWatched(p, ids.count(p.name) ? ids[p.name] : 0);
            added.push_back(w);
        }
        order.push_back(w);
        byName.emplace(p.name, w);
    }
    seed(added);
    std::vector<WatchedPtr> gone;
    for (auto& [name, w] : m_byName) {
        auto it = byName.find(name);
        if (it == byName.end() || it->second != w) gone.push_back(w);
    }
    {
        std::unique_lock guard(m_stateLock);
        m_order = std::move(order);
        m_byName = std::move(byName);
    }
    for (const WatchedPtr& w : gone) {
        w->removed = true;
        if (!w->busy) retire(w);
    }
    if (m_intervalS.exchange(fleet.pollIntervalS) != fleet.pollIntervalS && !m_cycleActive)
        m_nextCycle = std::min(m_nextCycle, m_cycleStart + std::chrono::seconds(fleet.pollIntervalS));
    if (m_cycle > 0)
        for (const WatchedPtr& w : added) {   // new printers start at once, not at the next cycle
            w->wanted = true;
            m_wanted.push_back(w);
        }
    if (m_cycle > 0 && (!gone.empty() || !added.empty()))
        logLine("watching " + std::to_string(m_order.size()) + " printers (" + std::to_string(added.size()) +
                " added, " + std::to_string(gone.size()) + " removed)");
}

void Monitor::retire(const WatchedPtr& w) {
    m_suspect.post([w] {
        bool owned = w->printer != nullptr;
        w->printer.reset();   // closes its handle
        if (!owned && w->handle != 0) BceClosePrinter(w->handle);
        w->handle = 0;
    });
}

void Monitor::stop() {
    {
        std::lock_guard guard(m_inboxLock);
        if (m_stopping && !m_scheduler.joinable()) return;
        m_stopping = true;
        m_stopRequested = true;
    }
    m_inboxWake.notify_all();
    if (m_scheduler.joinable()) m_scheduler.join();
    m_live.stop();
    m_suspect.stop();
    std::unique_lock guard(m_stateLock);
    for (const WatchedPtr& w : m_order) {
        bool owned = w->printer != nullptr;
        w->printer.reset();
        if (!owned && w->handle != 0) BceClosePrinter(w->handle);
        w->handle = 0;
    }
}

// ---- the scheduler ----

void Monitor::post(std::function<void()> job) {
    {
        std::lock_guard guard(m_inboxLock);
        m_inbox.push_back(std::move(job));
    }
    m_inboxWake.notify_one();
}

void Monitor::run() {
    pthread_setname_np(pthread_self(), "kvprtd-monitor");
    for (;;) {
        std::vector<std::function<void()>> jobs;
        bool stopping;
        {
            std::unique_lock guard(m_inboxLock);
            auto wake = m_cycleActive || m_stopping ? Clock::time_point::max() : m_nextCycle;
            m_inboxWake.wait_until(guard, wake, [&] { return m_stopping || !m_inbox.empty(); });
            jobs.swap(m_inbox);
            stopping = m_stopping;
        }
        m_halting = stopping;
        for (auto& job : jobs) job();
        if (stopping && m_inflight == 0) {
            std::lock_guard guard(m_inboxLock);
            if (m_inbox.empty()) return;
            continue;
        }
        if (!stopping) schedule();
    }
}

void Monitor::schedule() {
    const auto now = Clock::now();
    if (!m_cycleActive && now >= m_nextCycle) startCycle(now);
    while (m_cycleActive && m_cycleNext < m_cycleList.size() && m_inflightUp < kWindow) {
        WatchedPtr w = m_cycleList[m_cycleNext++];
        if (w->removed || w->busy) {
            // Busy with its report or an announced alert: it counts as polled.
            if (--m_cycleLeft == 0) finishCycle();
            continue;
        }
        // A printer not up is tried without holding the cycle up.
        bool awaited = w->snap.health == Health::Up;
        dispatch(w, awaited);
        if (!awaited && --m_cycleLeft == 0) finishCycle();
    }
    for (size_t i = 0; i < m_wanted.size() && m_inflightUp < kWindow;) {
        WatchedPtr w = m_wanted[i];
        if (w->busy && !w->removed) {
            ++i;
            continue;
        }
        m_wanted.erase(m_wanted.begin() + static_cast<std::ptrdiff_t>(i));
        w->wanted = false;
        if (!w->removed) dispatch(w, false);
    }
}

void Monitor::startCycle(Clock::time_point now) {
    ++m_cycle;
    m_cycleActive = true;
    m_cycleStart = now;
    m_nextCycle = now + std::chrono::seconds(m_intervalS.load());
    m_cycleList.clear();
    for (const WatchedPtr& w : m_order)
        if (w->track.retryCycle <= m_cycle) m_cycleList.push_back(w);
    m_cycleNext = 0;
    m_cycleLeft = m_cycleList.size();
    if (m_cycleLeft == 0) finishCycle();
}

void Monitor::finishCycle() {
    m_cycleActive = false;
    m_cycleList.clear();
    {
        std::lock_guard guard(m_statsLock);
        ++m_stats.cycles;
        m_stats.lastCycleSeconds = std::chrono::duration<double>(Clock::now() - m_cycleStart).count();
    }
    // A cycle's polls allocate and free much more than the fleet keeps, from
    // several threads' arenas; give the pages freed back to the system.
    malloc_trim(0);
}

void Monitor::dispatch(const WatchedPtr& w, bool inCycle) {
    w->busy = true;
    w->inCycle = inCycle;
    w->inWindow = w->snap.health == Health::Up;
    ++m_inflight;
    m_inflightUp += w->inWindow;
    step(w);
}

void Monitor::finished(const WatchedPtr& w) {
    w->busy = false;
    --m_inflight;
    if (w->inWindow) {
        w->inWindow = false;
        --m_inflightUp;
    }
    if (w->inCycle) {
        w->inCycle = false;
        if (--m_cycleLeft == 0) finishCycle();
    }
    if (w->removed) return retire(w);
    if (w->phase == Watched::Phase::Ready && w->snap.health == Health::Up && !m_halting &&
        w->track.reportWanted(Clock::now()))
        startReport(w);
}

// ---- readers ----

PollStats Monitor::stats() const {
    std::lock_guard guard(m_statsLock);
    return m_stats;
}

void Monitor::forEach(const std::function<void(const PrinterConfig&, const Snapshot&)>& f) const {
    std::shared_lock guard(m_stateLock);
    for (const WatchedPtr& w : m_order) f(w->config, w->snap);
}

bool Monitor::with(std::string_view name,
                   const std::function<void(const PrinterConfig&, int64_t, const Snapshot&)>& f) const {
    std::shared_lock guard(m_stateLock);
    auto it = m_byName.find(name);
    if (it == m_byName.end()) return false;
    f(it->second->config, it->second->dbId, it->second->snap);
    return true;
}

}  // namespace kvprtd

#include "monitor.h"

#include <algorithm>
#include <future>

#include <malloc.h>

#include <kvprtobj/bidicodes.h>

#include "forecast.h"
#include "log.h"
#include "times.h"

namespace kvprtd {
namespace {

// The reply capacity of the probe's device-status request.
constexpr unsigned long kProbeCapacity = 256;

}  // namespace

struct Monitor::Watched {
    enum class Phase { Open, Probe, Discover, Ready };
    struct Level {
        uint8_t id = 0;
        uint8_t storedLevel = 0, storedCount = 0;   // the last level written to the database
        int64_t storedDay = -1;
        LevelHistory history;
    };

    Monitor* owner = nullptr;
    std::weak_ptr<Watched> self;
    int64_t dbId = 0;

    // Published: written by the scheduler under m_stateLock.
    PrinterConfig config;
    Snapshot snap;

    // The scheduler's.
    Phase phase = Phase::Open;
    bool busy = false, removed = false, inCycle = false, inWindow = false, wanted = false;
    bool reportDue = true, bidiCapable = false;
    bool answering = false;              // its last request was answered (probe or poll)
    int failures = 0;
    uint64_t retryCycle = 0;
    Health recorded = Health::Unknown;   // the last up/down event recorded
    Clock::time_point nextReport{};
    int64_t lastSample = 0;
    std::vector<Level> levels;
    std::vector<AnnouncedAlert> announced;
    std::unique_ptr<Poll> poll;

    // Whoever runs the printer's step (while busy).
    unsigned short handle = 0;
    std::unique_ptr<kvprt::Printer> printer;

    Level& level(uint8_t id) {
        for (Level& l : levels)
            if (l.id == id) return l;
        levels.push_back({});
        levels.back().id = id;
        return levels.back();
    }
};

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

TaskPool& Monitor::poolFor(const Watched& w) { return w.answering ? m_live : m_suspect; }

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
        if (auto h = health.find(w->dbId); h != health.end()) w->recorded = h->second;
        auto l = levels.find(w->dbId);
        if (l == levels.end()) continue;
        for (const StoredSupply& s : l->second) {
            Watched::Level& level = w->level(s.supply.id);
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
        if (w->retryCycle <= m_cycle) m_cycleList.push_back(w);
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

void Monitor::submit(TaskPool& pool, const WatchedPtr& w, std::function<void()> work) {
    pool.post([this, w, work = std::move(work)] {
        if (m_stopRequested) return post([this, w] { finished(w); });   // no engine call any more
        work();
    });
}

void Monitor::dispatch(const WatchedPtr& w, bool inCycle) {
    w->busy = true;
    w->inCycle = inCycle;
    w->inWindow = w->snap.health == Health::Up;
    ++m_inflight;
    m_inflightUp += w->inWindow;
    step(w);
}

// Takes the printer's next step; each ends in finished() or failed().
void Monitor::step(const WatchedPtr& w) {
    if (m_halting) return finished(w);
    switch (w->phase) {
    case Watched::Phase::Open:
        submit(m_suspect, w, [this, w, uri = w->config.uri] {
            unsigned short handle = 0;
            long rc = BceOpenPrinter(uri.c_str(), &handle);
            std::string why = rc != 0 ? kvprt::Failure("BceOpenPrinter", rc, BceLastOpenError()).message() : "";
            post([this, w, handle, why] {
                if (!why.empty()) return failed(w, why);
                w->handle = handle;
                w->phase = Watched::Phase::Probe;
                step(w);
            });
        });
        break;
    case Watched::Phase::Probe:
        startProbe(w);
        break;
    case Watched::Phase::Discover:
        submit(m_live, w, [this, w, uri = w->config.uri] {
            std::string why, report;
            try {
                w->printer = std::make_unique<kvprt::Printer>(w->handle, uri);
                KVPrtObj::BIDICAPABILITIES caps;
                w->printer->obj().getBidiCaps(&caps);
                bool capable = caps.bBidiActive != 0;
                BceSetAlertCallback(w->handle, &Monitor::alertArrived, w.get());
                report = gatherOtherSections(*w->printer);
                post([this, w, capable, report] {
                    w->bidiCapable = capable;
                    w->phase = Watched::Phase::Ready;
                    m_store.putReport(w->dbId, {nowMs(), report});
                    w->reportDue = false;
                    w->nextReport = Clock::now() + kReportEvery;
                    startPoll(w);
                });
                return;
            } catch (const kvprt::Failure& f) {
                why = f.message();   // the printer closed the handle
            } catch (const std::exception& e) {
                why = e.what();
                if (!w->printer) BceClosePrinter(w->handle);
            }
            w->printer.reset();
            w->handle = 0;
            post([this, w, why] {
                w->phase = Watched::Phase::Open;
                failed(w, why);
            });
        });
        break;
    case Watched::Phase::Ready:
        startPoll(w);
        break;
    }
}

namespace {

struct ProbeContext {
    std::function<void(long)> done;
};

void probeDone(void* context, long rc, const void*, unsigned long) {
    auto* probe = static_cast<ProbeContext*>(context);
    try {
        probe->done(rc);
    } catch (...) {   // nothing crosses the engine
    }
    delete probe;
}

}  // namespace

void Monitor::startProbe(const WatchedPtr& w) {
    auto answered = [this, w](long rc) {
        post([this, w, rc] {
            if (rc != BCE_OK) return failed(w, kvprt::Failure("bidiQueryDeviceStatus", rc).message());
            w->answering = true;
            w->phase = Watched::Phase::Discover;
            step(w);
        });
    };
    submit(m_suspect, w, [handle = w->handle, answered] {
        auto* probe = new ProbeContext{answered};
        long rc = BceSendBidiAsync(kvprt::kAppId, handle, 0, kvbidi::kDeviceStatus, nullptr, 0, kProbeCapacity,
                                   &probeDone, probe);
        if (rc != BCE_OK) {
            delete probe;
            answered(rc);
        }
    });
}

void Monitor::startPoll(const WatchedPtr& w) {
    std::vector<AnnouncedAlert> announced;
    announced.swap(w->announced);
    // A failed request clears the object's bidi-active flag; a printer that
    // was reached before is asked again all the same.
    bool reactivate = w->bidiCapable && w->snap.health == Health::Down;
    w->poll = std::make_unique<Poll>(*w->printer, std::move(announced));
    submit(poolFor(*w), w, [this, w, poll = w->poll.get(), reactivate] {
        if (reactivate) w->printer->obj().setBidi(1);
        poll->start([this, w] {
            try {
                post([this, w] { polled(w); });
            } catch (...) {   // nothing crosses the engine (out of memory: the printer stays busy)
            }
        });
    });
}

void Monitor::startReport(const WatchedPtr& w) {
    w->busy = true;
    ++m_inflight;
    submit(m_live, w, [this, w] {
        std::string report = gatherOtherSections(*w->printer);
        post([this, w, report] {
            m_store.putReport(w->dbId, {nowMs(), report});
            w->reportDue = false;
            w->nextReport = Clock::now() + kReportEvery;
            finished(w);
        });
    });
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
        (w->reportDue || Clock::now() >= w->nextReport))
        startReport(w);
}

void Monitor::failed(const WatchedPtr& w, const std::string& why) {
    PollResult down;
    down.health = Health::Down;
    down.error = why;
    applyPoll(w, down);
    finished(w);
}

void Monitor::polled(const WatchedPtr& w) {
    PollResult r = w->poll->takeResult();
    w->poll.reset();
    {
        std::lock_guard guard(m_statsLock);
        size_t bucket = 0;
        while (bucket < std::size(PollStats::kBuckets) && r.seconds > PollStats::kBuckets[bucket]) ++bucket;
        if (bucket < std::size(PollStats::kBuckets)) ++m_stats.counts[bucket];
        ++m_stats.polls;
        m_stats.seconds += r.seconds;
    }
    applyPoll(w, r);
    finished(w);
}

// ---- outcomes ----

void Monitor::applyPoll(const WatchedPtr& w, const PollResult& r) {
    const int64_t now = nowMs();
    Snapshot before;   // what the changes are measured against
    before.health = w->recorded;
    before.familiesKnown = w->snap.familiesKnown;
    before.alerts = w->snap.alerts;
    before.supplies = w->snap.supplies;

    Snapshot after = w->snap;
    after.health = r.health;
    after.lastPoll = now;
    if (r.health != w->snap.health) after.since = now;
    Sample sample;
    sample.time = now;
    if (r.health == Health::Up) {
        if (w->snap.health == Health::Down) w->reportDue = true;   // it may have been changed meanwhile
        after.error.clear();
        if (r.familiesKnown) {
            std::erase_if(after.alerts, [&](const ActiveAlert& a) { return (r.familiesKnown >> a.family) & 1; });
            after.alerts.insert(after.alerts.end(), r.alerts.begin(), r.alerts.end());
            std::sort(after.alerts.begin(), after.alerts.end());
            after.familiesKnown = r.familiesKnown;
        }
        if (r.suppliesKnown) {
            after.supplies = r.supplies;
            for (Supply& s : after.supplies) {
                Watched::Level& level = w->level(s.id);
                if (!std::isnan(s.ratio)) level.history.add(now, s.ratio);
                s.daysLeft = level.history.daysLeft(now).value_or(NAN);
                if (level.storedLevel != s.level || level.storedCount != s.levelCount || level.storedDay != now / kDayMs) {
                    sample.supplies.push_back(s);
                    level.storedLevel = s.level;
                    level.storedCount = s.levelCount;
                    level.storedDay = now / kDayMs;
                }
            }
        }
        if (r.pagesKnown) {
            after.pagesKnown = true;
            std::copy(std::begin(r.pages), std::end(r.pages), after.pages);
            if (now - w->lastSample >= int64_t{m_options.sampleIntervalS} * 1000) {
                sample.pagesKnown = true;
                std::copy(std::begin(r.pages), std::end(r.pages), sample.pages);
                w->lastSample = now;
            }
        }
        after.pollJson = r.json;
        w->answering = true;
        w->failures = 0;
        w->retryCycle = 0;
    } else {
        after.error = r.error;
        w->answering = false;
        ++w->failures;
        int wait = std::min(1 << std::min(w->failures - 1, 4), kMaxBackoffCycles);
        w->retryCycle = m_cycle + static_cast<uint64_t>(wait);
    }

    std::vector<Event> events = changes(before, after);
    for (const AlertRead& a : r.announced) {
        Event e;
        e.kind = "alert-received";
        e.text = (a.familyName.empty() ? "family " + std::to_string(a.alert.family) : a.familyName) + ": " + a.line;
        e.data = nlohmann::json{{"alertId", a.alert.id}, {"family", a.alert.family}, {"familyName", a.familyName},
                                {"read", a.ok}}
                     .dump();
        events.push_back(std::move(e));
    }
    if (sample.pagesKnown || !sample.supplies.empty()) m_store.addSample(w->dbId, sample);
    {
        std::unique_lock guard(m_stateLock);
        w->snap = std::move(after);
    }
    record(w, std::move(events));
}

void Monitor::record(const WatchedPtr& w, std::vector<Event> events) {
    const int64_t now = nowMs();
    for (Event& e : events) {
        e.id = m_nextEventId++;
        e.time = now;
        e.printer = w->config.name;
        if (e.kind == "up" || e.kind == "down") {
            // A printer found up at first sight is no news for the log.
            if (e.kind == "down" || w->recorded == Health::Down)
                logLine("printer " + e.printer + (e.kind == "up" ? " is up again" : " is down: " + e.text));
            w->recorded = e.kind == "up" ? Health::Up : Health::Down;
        }
        m_store.addEvent(w->dbId, e);
        m_hub.publish(e);
    }
}

void Monitor::alertArrived(void* context, unsigned short, unsigned short alertId, unsigned long family) {
    auto* watched = static_cast<Watched*>(context);
    try {
        WatchedPtr w = watched->self.lock();
        if (!w) return;
        Monitor* m = watched->owner;
        m->post([m, w, alertId, family] {
            if (w->removed) return;
            if (w->announced.size() >= kMaxAnnounced) w->announced.erase(w->announced.begin());
            w->announced.push_back({alertId, family});
            if (!w->wanted && w->phase == Watched::Phase::Ready) {
                w->wanted = true;
                m->m_wanted.push_back(w);
            }
        });
    } catch (...) {   // nothing crosses the engine; the next poll sees the alert's effects
    }
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

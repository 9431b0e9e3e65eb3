// The per-printer steps of the monitor (monitor.h): open, probe, discovery,
// polls and reports, each run on a pool and ending back on the scheduler in
// finished() or failed(); the poll itself, the batch of a printer's reads
// (printer_poll.h); and applying a poll's outcome (outcome.h).
#include <kvprtobj/bidicodes.h>

#include <cmath>

#include "command.h"
#include "log.h"
#include "outcome.h"
#include "sections.h"
#include "times.h"
#include "watched.h"

namespace kvprtd {
namespace {

// The reply capacity of the probe's device-status request.
constexpr unsigned long kProbeCapacity = 256;

// A toner record's level step (bits 0-6) and flag (bit 7).
constexpr uint8_t kLevelStep = 0x7F, kLevelFlag = 0x80;

}  // namespace

void Monitor::submit(TaskPool& pool, const WatchedPtr& w, std::function<void()> work) {
    pool.post([this, w, work = std::move(work)] {
        if (m_stopRequested) return post([this, w] { finished(w); });   // no engine call any more
        work();
    });
}

// Takes the printer's next step; each ends in finished() or failed().
void Monitor::step(const WatchedPtr& w) {
    if (m_halting) return finished(w);
    switch (w->phase) {
    case Watched::Phase::Open:
        submit(m_suspect, w, [this, w, uri = w->config.uri] {
            unsigned short handle = 0;
            long rc = BceOpenPrinter(uri.c_str(), &handle);
            const kvprt::Failure why("BceOpenPrinter", rc, rc != 0 ? BceLastOpenError() : "");
            post([this, w, handle, why] {
                if (why.code() != 0) return failed(w, why);
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
            kvprt::Failure why("kvprtd", 0);
            std::map<std::string, std::string> report;
            try {
                w->printer = std::make_unique<kvprt::Printer>(w->handle, uri);
                KVPrtObj::BIDICAPABILITIES caps;
                w->printer->obj().getBidiCaps(&caps);
                bool capable = caps.bBidiActive != 0;
                BceSetAlertCallback(w->handle, &Monitor::alertArrived, w.get());
                report = gatherOtherSections(*w->printer, m_options.exposeJobs);
                post([this, w, capable, report = std::move(report)] {
                    w->bidiCapable = capable;
                    w->phase = Watched::Phase::Ready;
                    m_store.putReport(w->dbId, {nowMs(), report});
                    w->track.reported(Clock::now());
                    startPoll(w);
                });
                return;
            } catch (const kvprt::Failure& f) {
                why = f;   // the printer closed the handle
            } catch (const std::exception& e) {
                why = kvprt::Failure("kvprtd", 0, e.what());
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
            if (rc != BCE_OK) return failed(w, kvprt::Failure("bidiQueryDeviceStatus", rc));
            w->track.answering = true;
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
    w->poll = std::make_unique<Poll>(*w->printer, std::move(announced), m_options.exposeJobs);
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
        std::map<std::string, std::string> report = gatherOtherSections(*w->printer, m_options.exposeJobs);
        post([this, w, report = std::move(report)] {
            m_store.putReport(w->dbId, {nowMs(), report});
            w->track.reported(Clock::now());
            finished(w);
        });
    });
}

void Monitor::failed(const WatchedPtr& w, const kvprt::Failure& why) {
    PollResult down;
    down.health = Health::Down;
    down.error = why.message();
    down.errorCode = why.code();
    down.reason = why.reason();
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

// ---- the poll (printer_poll.h) ----

Poll::Poll(kvprt::Printer& printer, std::vector<AnnouncedAlert> announced, bool exposeJobs)
    : m_printer(printer),
      m_records(std::make_shared<PollRecords>()),
      m_announced(std::move(announced)),
      m_alertReads(m_announced.size()),
      m_batch(printer.obj()) {
    PollRecords& r = *m_records;
    add(r.deviceStatus, kvprt::readDeviceStatus);
    r.families.resize(kvprt::alertFamilyCount());
    for (size_t i = 0; i < r.families.size(); ++i)
        add(r.families[i], [i](KVPrtObj& obj) { return kvprt::readAlertFamily(obj, i); });
    add(r.panel, kvprt::readPanel);
    add(r.toner, kvprt::readToner);
    add(r.pageCounts, kvprt::readPageCounts);

    unsigned short handle = m_printer.handle();
    const std::string* uri = &m_printer.uri();
    for (size_t i = 0; i < m_announced.size(); ++i)
        m_batch.add([read = &m_alertReads[i], a = m_announced[i], handle, uri, exposeJobs](KVPrtObj& obj) -> long {
            kvprt::Printer view(handle, obj, *uri);
            try {
                kvprt::AlertReading alert = kvprt::readAlert(view, a.id, a.family, exposeJobs);
                *read = {a, alert.familyName ? alert.familyName : "", std::move(alert.line), alert.ok};
            } catch (const std::bad_alloc&) {
                throw;
            } catch (const std::exception& e) {   // data kvprt's alert code could not take
                *read = {a, "", e.what(), false};
            }
            return 0;
        });
}

template <class T, class Read>
void Poll::add(kvprt::Reading<T>& into, Read read) {
    // An operation may run several times; the last run counts.
    m_batch.add([&into, read](KVPrtObj& obj) -> long {
        into = read(obj);
        return into.rc;
    });
}

void Poll::start(std::function<void()> done) {
    m_started = std::chrono::steady_clock::now();
    m_batch.start([this, done = std::move(done)] {
        auto finished = std::chrono::steady_clock::now();
        m_result = compact();
        m_result.seconds = std::chrono::duration<double>(finished - m_started).count();
        done();
    });
}

PollResult Poll::compact() {
    PollResult r;
    const PollRecords& records = *m_records;
    r.health = records.deviceStatus.ok() ? Health::Up : Health::Down;
    if (!records.deviceStatus.ok()) {
        r.error = kvprt::Failure(records.deviceStatus.operation, records.deviceStatus.rc).message();
        r.errorCode = records.deviceStatus.rc;
        r.reason = kvprt::lastFailure(m_printer.handle());
    }

    for (size_t i = 0; i < records.families.size(); ++i) {
        if (!records.families[i].ok()) continue;
        r.familiesKnown |= static_cast<uint16_t>(1u << i);
        for (const kvprt::AlertRecord& a : records.families[i].value)
            r.alerts.push_back({static_cast<uint8_t>(i), a.id, a.value});
    }
    if (records.toner.ok()) {
        r.suppliesKnown = true;
        for (const KvTonerPrediction::TonerInfo& t : records.toner.value) {
            Supply s;
            s.id = t.bySupplyId;
            s.level = t.byLevel & kLevelStep;
            s.levelCount = t.byLevelCount;
            s.ratio = levelRatio(s.level, s.levelCount);
            s.someRemaining = std::isnan(s.ratio) && (t.byLevel & kLevelFlag) != 0;
            r.supplies.push_back(s);
        }
    }
    if (const auto& counts = records.pageCounts; counts.ok()) {
        r.pagesKnown = true;
        const uint32_t pages[] = {counts.value.dwPageCountType1, counts.value.dwPageCountType2,
                                  counts.value.dwPageCountType3, counts.value.dwPageCountType4};
        std::copy(std::begin(pages), std::end(pages), r.pages);
    }
    r.announced = std::move(m_alertReads);
    r.records = std::move(m_records);
    return r;
}

// ---- outcomes ----

void Monitor::applyPoll(const WatchedPtr& w, const PollResult& r) {
    const int64_t now = nowMs();   // the poll's time, and its events'
    PollOutcome o = pollOutcome(w->snap, w->track, r, now, m_cycle, m_options.sampleIntervalS);
    if (o.sample.pagesKnown || !o.sample.supplies.empty()) m_store.addSample(w->dbId, o.sample);
    w->track = std::move(o.track);
    {
        std::unique_lock guard(m_stateLock);
        w->snap = std::move(o.snap);
    }
    record(w, std::move(o.events), now);
}

void Monitor::record(const WatchedPtr& w, std::vector<Event> events, int64_t now) {
    for (Event& e : events) {
        e.id = m_nextEventId++;
        e.time = now;
        e.printer = w->config.name;
        if (e.kind == "up" || e.kind == "down") {
            // A printer found up at first sight is no news for the log.
            if (e.kind == "down" || w->track.recorded.health == Health::Down)
                logLine("printer " + e.printer + (e.kind == "up" ? " is up again" : " is down: " + e.text));
            w->track.recorded = {e.kind == "up" ? Health::Up : Health::Down, now};
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

}  // namespace kvprtd

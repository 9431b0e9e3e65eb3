#include "outcome.h"

#include <algorithm>

#include "output.h"
#include "times.h"

namespace kvprtd {

int backoffCycles(int failures) {
    constexpr int kDoublings = 4;   // 1, 2, 4, 8
    return std::min(1 << std::clamp(failures - 1, 0, kDoublings), kMaxBackoffCycles);
}

SupplyLevel& PrinterTrack::level(uint8_t id) {
    for (SupplyLevel& l : levels)
        if (l.id == id) return l;
    levels.push_back({});
    levels.back().id = id;
    return levels.back();
}

void PrinterTrack::reported(Clock::time_point now) {
    reportDue = false;
    nextReport = now + kReportEvery;
}

namespace {

// Takes the poll's supplies into `after`, with their forecast, and those to store into `sample`.
void takeSupplies(const PollResult& r, int64_t now, PrinterTrack& track, Snapshot& after, Sample& sample) {
    after.supplies = r.supplies;
    for (Supply& s : after.supplies) {
        SupplyLevel& level = track.level(s.id);
        if (!std::isnan(s.ratio)) level.history.add(now, s.ratio);
        s.daysLeft = level.history.daysLeft(now).value_or(NAN);
        if (level.storedLevel == s.level && level.storedCount == s.levelCount && level.storedDay == now / kDayMs)
            continue;
        sample.supplies.push_back(s);
        level.storedLevel = s.level;
        level.storedCount = s.levelCount;
        level.storedDay = now / kDayMs;
    }
}

Event alertReceived(const AlertRead& a) {
    Event e;
    e.kind = "alert-received";
    e.text = (a.familyName.empty() ? "family " + std::to_string(a.alert.family) : a.familyName) + ": " + a.line;
    e.data = kvprt::jsonText(
        {{"alertId", a.alert.id}, {"family", a.alert.family}, {"familyName", a.familyName}, {"read", a.ok}}, -1);
    return e;
}

}  // namespace

PollOutcome pollOutcome(const Snapshot& snap, const PrinterTrack& track, const PollResult& r, int64_t now,
                        uint64_t cycle, int sampleIntervalS) {
    PollOutcome o{snap, track, {}, {}};
    Snapshot& after = o.snap;
    PrinterTrack& next = o.track;
    after.health = r.health;
    after.lastPoll = now;
    // A state the history already holds (at the first poll of a run) dates from its event.
    if (r.health != snap.health)
        after.since = r.health == track.recorded.health && track.recorded.time ? track.recorded.time : now;
    o.sample.time = now;
    if (r.health == Health::Up) {
        if (snap.health == Health::Down) next.reportDue = true;   // it may have been changed meanwhile
        after.error.clear();
        after.errorCode = 0;
        after.reason.clear();
        if (r.familiesKnown) {
            std::erase_if(after.alerts, [&](const ActiveAlert& a) { return (r.familiesKnown >> a.family) & 1; });
            after.alerts.insert(after.alerts.end(), r.alerts.begin(), r.alerts.end());
            std::sort(after.alerts.begin(), after.alerts.end());
            after.familiesKnown = r.familiesKnown;
        }
        if (r.suppliesKnown) takeSupplies(r, now, next, after, o.sample);
        if (r.pagesKnown) {
            after.pagesKnown = true;
            std::copy(std::begin(r.pages), std::end(r.pages), after.pages);
            if (now - next.lastSample >= int64_t{sampleIntervalS} * 1000) {
                o.sample.pagesKnown = true;
                std::copy(std::begin(r.pages), std::end(r.pages), o.sample.pages);
                next.lastSample = now;
            }
        }
        after.polled = r.records;
        next.answering = true;
        next.failures = 0;
        next.retryCycle = 0;
    } else {
        after.error = r.error;
        after.errorCode = r.errorCode;
        after.reason = r.reason;
        next.answering = false;
        ++next.failures;
        next.retryCycle = cycle + static_cast<uint64_t>(backoffCycles(next.failures));
    }

    // The changes are measured against the last up/down event recorded.
    Snapshot before;
    before.health = track.recorded.health;
    before.familiesKnown = snap.familiesKnown;
    before.alerts = snap.alerts;
    before.supplies = snap.supplies;
    o.events = changes(before, after);
    for (const AlertRead& a : r.announced) o.events.push_back(alertReceived(a));
    return o;
}

}  // namespace kvprtd

// The outcome of a poll (outcome.h): the supplies' forecast, the back-off,
// the events, and pollOutcome itself.
#include "outcome.h"

#include <algorithm>

#include "command.h"
#include "texts.h"
#include "times.h"

namespace kvprtd {
namespace {

using json = nlohmann::ordered_json;

constexpr int64_t kDaySeconds = 86400;

}  // namespace

void LevelHistory::add(int64_t timeMs, double ratio) {
    auto seconds = static_cast<uint32_t>(std::clamp<int64_t>(timeMs / 1000, 0, UINT32_MAX));
    if (!m_days.empty() && ratio > m_days.back().ratio + kRefill) m_days.clear();
    if (!m_days.empty() && m_days.back().time / kDaySeconds == seconds / kDaySeconds) {
        m_days.back() = {seconds, static_cast<float>(ratio)};
        return;
    }
    m_days.push_back({seconds, static_cast<float>(ratio)});
    if (m_days.size() > kWindowDays + 1) m_days.erase(m_days.begin());
}

std::optional<double> LevelHistory::daysLeft(int64_t nowMs) const {
    const int64_t from = nowMs / 1000 - kWindowDays * kDaySeconds;
    double n = 0, sumT = 0, sumR = 0, sumTT = 0, sumTR = 0;
    double first = 0, last = 0;
    for (const Day& d : m_days) {
        if (d.time < from) continue;
        double t = (static_cast<double>(d.time) - static_cast<double>(m_days.back().time)) / kDaySeconds;
        if (n == 0) first = t;
        last = t;
        n += 1, sumT += t, sumR += d.ratio, sumTT += t * t, sumTR += t * d.ratio;
    }
    if (n < kMinimumDays || last - first < kMinimumDays - 1) return std::nullopt;
    double slope = (n * sumTR - sumT * sumR) / (n * sumTT - sumT * sumT);   // level per day
    if (!(slope < -kFlatSlope)) return std::nullopt;   // level; the fit's rounding is no fall
    return std::min(m_days.back().ratio / -slope, kMaxDaysLeft);
}

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

Event event(std::string kind, std::string text, const json& data) {
    Event e;
    e.kind = std::move(kind);
    e.text = std::move(text);
    e.data = kvprt::jsonText(data, -1);
    return e;
}

void alertChanges(const Snapshot& before, const Snapshot& after, std::vector<Event>* out) {
    // Only families read by both polls are compared: a failed read clears nothing.
    uint16_t known = before.familiesKnown & after.familiesKnown;
    auto compared = [&](const ActiveAlert& a) { return (known >> a.family) & 1; };
    auto report = [&](const std::vector<ActiveAlert>& from, const std::vector<ActiveAlert>& against, const char* kind) {
        for (const ActiveAlert& a : from) {
            if (!compared(a) || std::find(against.begin(), against.end(), a) != against.end()) continue;
            out->push_back(event(kind, kvprt::alertText(a.id, a.value),
                                 {{"family", kvprt::alertFamilyKey(a.family)}, {"id", a.id}, {"value", a.value}}));
        }
    };
    report(after.alerts, before.alerts, "alert-raised");
    report(before.alerts, after.alerts, "alert-cleared");
}

void supplyChanges(const Snapshot& before, const Snapshot& after, std::vector<Event>* out) {
    for (const Supply& now : after.supplies) {
        auto was = std::find_if(before.supplies.begin(), before.supplies.end(),
                                [&](const Supply& s) { return s.id == now.id; });
        if (was == before.supplies.end() || std::isnan(was->ratio) || std::isnan(now.ratio)) continue;
        const float* passed = nullptr;
        for (const float& mark : kSupplyMarks)
            if (was->ratio > mark && now.ratio <= mark) passed = &mark;
        if (passed == nullptr) continue;
        std::string name = "toner supply " + std::to_string(now.id);
        std::string text = *passed == 0.0f ? name + " is empty"
                                           : name + " at " + std::to_string(static_cast<int>(*passed * 100 + 0.5f)) +
                                                 " % or less";
        out->push_back(event("supply", text, {{"supply", now.id}, {"mark", *passed}, {"ratio", now.ratio}}));
    }
}

Event alertReceived(const AlertRead& a) {
    return event("alert-received",
                 (a.familyName.empty() ? "family " + std::to_string(a.alert.family) : a.familyName) + ": " + a.line,
                 {{"alertId", a.alert.id}, {"family", a.alert.family}, {"familyName", a.familyName}, {"read", a.ok}});
}

}  // namespace

std::vector<Event> changes(const Snapshot& before, const Snapshot& after) {
    std::vector<Event> out;
    if (after.health != before.health && after.health != Health::Unknown)
        out.push_back(after.health == Health::Up ? event("up", "up", json::object())
                                                 : event("down", after.error, {{"error", after.error}}));
    alertChanges(before, after, &out);
    supplyChanges(before, after, &out);
    return out;
}

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

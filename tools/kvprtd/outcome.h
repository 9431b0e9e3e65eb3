// The outcome of one poll of a printer, as a pure function of what the
// monitor knew of the printer and what the poll gave: its new snapshot, the
// sample to store, the events, and the cycle it is polled again in. The
// monitor (steps.cpp) applies it; the tests check it as tables.
//
//   back-off      a printer that fails is tried again after 1, 2, 4 and 8
//                 cycles, then every kMaxBackoffCycles; one answer ends it
//   page counts   stored at most every sampleIntervalS (0: every poll)
//   supply levels stored when a level changes, and once a day (UTC) anyway
//   report        the report's other sections are gathered again every
//                 kReportEvery, and whenever the printer comes back up
//   events        the changes of health, alerts and supply levels (events.h),
//                 and the alerts the printer announced
//   forecast      days until a toner supply runs out, from its level history:
//                 kvprtd keeps one level per supply and day (UTC), the day's
//                 last, and fits a straight line by least squares through the
//                 levels of the last 14 days against their times; the days
//                 left are the current level divided by the line's fall per
//                 day. There is none until the levels span at least two days
//                 (three daily levels), nor while the line does not fall. A
//                 level that rises by more than a tenth (a new cartridge)
//                 starts the history afresh.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <vector>

#include "events.h"
#include "printer_poll.h"
#include "state.h"
#include "store.h"

namespace kvprtd {

constexpr int kMaxBackoffCycles = 10;
constexpr auto kReportEvery = std::chrono::hours(1);

// The cycles to wait after the `failures`-th failure in a row (from 1).
int backoffCycles(int failures);

// A supply's daily levels for its forecast.
class LevelHistory {
public:
    static constexpr int kWindowDays = 14;
    static constexpr int kMinimumDays = 3;
    static constexpr double kRefill = 0.1;
    static constexpr double kMaxDaysLeft = 3650;
    // A line that falls less than this a day is level: a fit through equal
    // levels at other times of day has a slope of rounding (±1e-17), which
    // would flip the forecast between none and kMaxDaysLeft.
    static constexpr double kFlatSlope = 1e-9;

    // A level (0 to 1) at `timeMs`; times must not go backwards.
    void add(int64_t timeMs, double ratio);
    // Days until empty at `nowMs`; nothing when there is not enough history or the level does not fall.
    std::optional<double> daysLeft(int64_t nowMs) const;
    size_t size() const { return m_days.size(); }

private:
    struct Day {
        uint32_t time;   // seconds since the epoch of the day's last level
        float ratio;
    };
    std::vector<Day> m_days;   // oldest first, at most kWindowDays + 1
};

// A supply's level as last stored, and its history for the forecast.
struct SupplyLevel {
    uint8_t id = 0;
    uint8_t storedLevel = 0, storedCount = 0;
    int64_t storedDay = -1;
    LevelHistory history;
};

// What the monitor keeps of a printer between polls besides its snapshot.
struct PrinterTrack {
    using Clock = std::chrono::steady_clock;

    RecordedHealth recorded;             // the last up/down event recorded
    bool answering = false;              // its last request was answered
    int failures = 0;                    // failed polls in a row
    uint64_t retryCycle = 0;             // polled again from this cycle on
    bool reportDue = true;               // the report's other sections are to be gathered
    Clock::time_point nextReport{};      // ... or from then on
    int64_t lastSample = 0;              // when page counts were last stored
    std::vector<SupplyLevel> levels;

    SupplyLevel& level(uint8_t id);
    // Whether to gather the report's other sections now (the printer is up).
    bool reportWanted(Clock::time_point now) const { return reportDue || now >= nextReport; }
    // The report was gathered at `now`.
    void reported(Clock::time_point now);
};

struct PollOutcome {
    Snapshot snap;
    PrinterTrack track;
    Sample sample;               // to store when it holds page counts or supplies
    std::vector<Event> events;   // without id, time and printer
};

// The marks a supply's level is watched for, highest first.
constexpr float kSupplyMarks[] = {0.20f, 0.10f, 0.0f};

// The events between two states of one printer (without id, time and printer).
std::vector<Event> changes(const Snapshot& before, const Snapshot& after);

// The outcome of poll result `r` at `nowMs` in cycle `cycle`.
PollOutcome pollOutcome(const Snapshot& snap, const PrinterTrack& track, const PollResult& r, int64_t nowMs,
                        uint64_t cycle, int sampleIntervalS);

}  // namespace kvprtd

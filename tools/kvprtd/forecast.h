// The supply forecast: days until a toner supply runs out, from its level
// history.
//
// kvprtd keeps one level per supply and day (UTC): the day's last. The
// forecast fits a straight line by least squares through the levels of the
// last 14 days against their times; the days left are the current level
// divided by the line's fall per day. There is none until the levels span at
// least two days (three daily levels), nor while the line does not fall. A
// level that rises by more than a tenth (a new cartridge) starts the
// history afresh.
#pragma once

#include <cstdint>
#include <optional>
#include <vector>

namespace kvprtd {

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

}  // namespace kvprtd

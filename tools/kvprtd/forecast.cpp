#include "forecast.h"

#include <algorithm>

namespace kvprtd {

namespace {
constexpr int64_t kDaySeconds = 86400;
}

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

}  // namespace kvprtd

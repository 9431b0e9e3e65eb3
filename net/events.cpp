#include "events.h"

#include <algorithm>

#include "alert_data.h"
#include "encoders.h"

namespace kvnet {
namespace {

using kvsim::Job;
using kvsim::TonerSupply;

constexpr uint8_t kTonerThresholds[] = {20, 10, 5, 0};
constexpr int kRefillRise = 10;
constexpr uint8_t kNotMeasured = 0x80;

// A supply's percent, or -1 when its level is not a measurement.
int percentOf(const TonerSupply& s) {
    if (s.levelCount < 2 || (s.level & kNotMeasured)) return -1;
    return s.level;
}

bool tonerMoved(const kvsim::Toner& before, const kvsim::Toner& after) {
    for (const TonerSupply& now : after.supplies) {
        auto was = std::find_if(before.supplies.begin(), before.supplies.end(),
                                [&](const TonerSupply& s) { return s.id == now.id; });
        if (was == before.supplies.end()) continue;
        int from = percentOf(*was), to = percentOf(now);
        if (from < 0 || to < 0) continue;
        if (to >= from + kRefillRise) return true;
        for (uint8_t t : kTonerThresholds)
            if (from > t && to <= t) return true;
    }
    return false;
}

const Job* findJob(const std::vector<Job>& jobs, uint16_t number) {
    auto it = std::find_if(jobs.begin(), jobs.end(), [&](const Job& j) { return j.number == number; });
    return it == jobs.end() ? nullptr : &*it;
}

}  // namespace

std::vector<PushedAlert> changes(const Snapshot& before, const Snapshot& after) {
    const kvsim::Profile& b = before.profile;
    const kvsim::Profile& a = after.profile;
    std::vector<PushedAlert> pushed;
    if (b.deviceStatus != a.deviceStatus)
        pushed.push_back({kvsim::kFamilyDeviceStatus, kvsim::deviceStatusAlert(a.deviceStatus)});
    std::string display = kvsim::panelDisplay(a);
    if (kvsim::panelDisplay(b) != display)
        pushed.push_back({kvsim::kFamilyOperatorPanel, kvsim::operatorPanelAlert(display)});
    const kvsim::Bytes* lockBefore = kvsim::findVariable(b, kvsim::kVarPanelLock);
    const kvsim::Bytes* lockAfter = kvsim::findVariable(a, kvsim::kVarPanelLock);
    if (lockBefore && lockAfter && *lockBefore != *lockAfter)
        pushed.push_back({kvsim::kFamilyVariableEvent, kvsim::variableEventAlert(kvsim::kVarPanelLock, *lockAfter)});
    if (tonerMoved(b.toner, a.toner)) pushed.push_back({kvsim::kFamilyToner, kvsim::tonerAlert(a.toner)});
    // Jobs are compared only while both snapshots could list them.
    if (before.answers(kvbidi::kQueryJobs) && after.answers(kvbidi::kQueryJobs)) {
        for (const Job& old : b.jobs) {
            const Job* now = findJob(a.jobs, old.number);
            if (now == nullptr)
                pushed.push_back({kvsim::kFamilyJobTransition, kvsim::jobTransitionAlert(old)});
            else if (now->byte0 != old.byte0)
                pushed.push_back({kvsim::kFamilyJobTransition, kvsim::jobTransitionAlert(*now)});
        }
    }
    return pushed;
}

}  // namespace kvnet

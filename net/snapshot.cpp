#include "snapshot.h"

#include <algorithm>

#include "kvprtobj/bidicodes.h"

namespace kvnet {

// The encoders write counts in one byte.
constexpr size_t kMaxRecords = 255;

void Snapshot::addAlert(uint16_t run, uint8_t category, uint8_t instance, uint8_t condition) {
    answer(run);
    auto& records = profile.alertRuns[run];
    bool known = std::any_of(records.begin(), records.end(), [&](const kvsim::AlertRecord& r) {
        return r.category == category && r.instance == instance && r.condition == condition;
    });
    if (known) return;
    if (records.size() >= kMaxRecords) return note("alert run " + std::to_string(run) + " cut at 255 records");
    records.push_back({category, instance, condition, {}});
}

void Snapshot::addSupplyStatus(uint8_t category, uint8_t instance, uint8_t condition, uint8_t value) {
    answer(kvbidi::kSuppliesStatus);
    auto& records = profile.suppliesStatus;
    bool known = std::any_of(records.begin(), records.end(), [&](const kvsim::SupplyStatusRecord& r) {
        return r.category == category && r.instance == instance;
    });
    if (known) return;
    if (records.size() >= kMaxRecords) return note("supplies status cut at 255 records");
    records.push_back({category, instance, condition, value});
}

}  // namespace kvnet

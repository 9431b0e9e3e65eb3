#include "snapshot.h"

#include <algorithm>
#include <limits>

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

void Snapshot::addStorageOption(bool flash, int64_t sizeKb, int64_t freeKb) {
    answer(kvbidi::kStorageOptions);
    const std::string cut = "storage options cut at 255 devices";
    if (profile.storage.size() >= kMaxRecords) {
        if (std::find(notes.begin(), notes.end(), cut) == notes.end()) note(cut);
        return;
    }
    // The library reads the sizes into 32-bit signed numbers.
    constexpr int64_t kMax = std::numeric_limits<int32_t>::max();
    auto kilobytes = [&](int64_t kb) {
        if (kb > kMax) note("storage size " + std::to_string(kb) + " KB cut to " + std::to_string(kMax));
        return std::min(kb, kMax);
    };
    const std::string kind = flash ? "FLASH: " : "DISK: ";
    auto number = 1 + std::count_if(profile.storage.begin(), profile.storage.end(),
                                    [&](const std::string& e) { return e.compare(0, kind.size(), kind) == 0; });
    // Widths as the library reads them: the size from character 7 of field 2,
    // the free space from character 12 of field 3.
    const int64_t size = kilobytes(sizeKb), free = kilobytes(freeKb);
    profile.storage.push_back(kind + std::to_string(number) + ";SIZE:  " + std::to_string(size) +
                              ";FREE SPACE: " + std::to_string(free) + ";");
}

}  // namespace kvnet

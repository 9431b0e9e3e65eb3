// What kvprtd knows of a printer between polls, kept compact (decoded
// numbers, the records of its last poll): a fleet of 10,000 printers lives in
// memory. The history lives in the database (store.h).
#pragma once

#include <cmath>
#include <cstdint>
#include <memory>
#include <string>
#include <vector>

namespace kvprtd {

struct PollRecords;   // poll.h

enum class Health : uint8_t { Unknown, Up, Down };

inline const char* healthWord(Health h) {
    return h == Health::Up ? "up" : h == Health::Down ? "down" : "unknown";
}

// An alert of the printer's alert lists: its family (the index of the alerts
// section's family, kvprt::alertFamilyKey) and the alert's id and value.
struct ActiveAlert {
    uint8_t family = 0;
    uint16_t id = 0;
    uint16_t value = 0;
    auto operator<=>(const ActiveAlert&) const = default;
};

// A toner supply. The level runs in steps from 0 (empty) to levelCount - 1
// (full); its ratio is level / (levelCount - 1). A level of fewer than two
// steps is no measurement: its ratio is unknown (NaN), and the printer says
// at most that some remains.
struct Supply {
    uint8_t id = 0;
    uint8_t level = 0;
    uint8_t levelCount = 0;
    bool someRemaining = false;   // an unmeasured level: the printer says some remains
    float ratio = NAN;
    float daysLeft = NAN;   // the forecast (outcome.h); NaN when there is none
};

// The ratio of a supply's level: NaN for fewer than two steps.
inline float levelRatio(unsigned level, unsigned levelCount) {
    if (levelCount < 2) return NAN;
    return static_cast<float>(level < levelCount - 1 ? level : levelCount - 1) / static_cast<float>(levelCount - 1);
}

// The page counters, types 1 to 4, as the printer reports them.
constexpr size_t kPageCountTypes = 4;

struct Snapshot {
    Health health = Health::Unknown;
    bool pagesKnown = false;
    uint16_t familiesKnown = 0;   // bit i: family i's list was read by the last poll
    int64_t since = 0;            // when the health last changed (ms since the epoch; 0: not in this run)
    int64_t lastPoll = 0;         // when the last poll finished
    uint32_t pages[kPageCountTypes] = {};
    std::string error;            // why the printer is down, in words
    long errorCode = 0;           // ... as a result code (0: none)
    std::string reason;           // ... as the system said it ("connection refused"), when known
    std::vector<ActiveAlert> alerts;
    std::vector<Supply> supplies;
    std::shared_ptr<const PollRecords> polled;   // the last poll's records (none before the first)
};

}  // namespace kvprtd

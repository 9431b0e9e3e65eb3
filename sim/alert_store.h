// The alerts a printer holds for BceQueryAlerts, each under an id of its own:
// the profile's alerts for good, raised alerts the newest kMaxRaised. The
// simulated printer and the net:// backend both keep theirs here. Not locked:
// its owner's lock guards it.
#pragma once

#include <cstddef>
#include <cstdint>
#include <deque>
#include <map>
#include <vector>

namespace kvsim {

class AlertStore {
public:
    static constexpr size_t kMaxRaised = 4096;

    // Holds `data` under a fresh id (never 0, never one held) and returns the
    // id. A raised alert beyond the newest kMaxRaised drops the oldest.
    unsigned short hold(uint16_t family, std::vector<uint8_t> data, bool raised);
    // BceQueryAlerts: copies what fits of alert `id` and sets *length to its
    // whole size; -3 for an id not held.
    long read(unsigned short id, void* buffer, unsigned long* length) const;

private:
    struct Held {
        uint16_t family = 0;
        std::vector<uint8_t> data;
    };
    std::map<unsigned short, Held> m_alerts;
    std::deque<unsigned short> m_raisedOrder;   // oldest first
    unsigned short m_nextId = 1;
};

}  // namespace kvsim

// Alert lists and bit-field words as comparable values (alerts and round-trip suites).
#pragma once

#include <cstdint>
#include <cstring>
#include <ostream>
#include <vector>

#include "kvprtobj/prtobj.h"

namespace kvtest {

struct Alert {
    uint16_t id = 0;
    uint16_t value = 0;
    bool operator==(const Alert&) const = default;
};
using Alerts = std::vector<Alert>;
inline std::ostream& operator<<(std::ostream& out, const Alert& a) { return out << a.id << "/" << a.value; }

// The entries of a list the library handed back; releases the list as a host does.
inline Alerts takeList(KVPrtObj::KVPALERTDATA* list, unsigned count) {
    Alerts alerts;
    for (unsigned i = 0; i < count; ++i) alerts.push_back({list[i].usAlertId, list[i].usAlertValue});
    ::operator delete(list);
    return alerts;
}

// The whole 32-bit word of a bit-field record, and a record holding a word.
template <typename Bits>
uint32_t word(const Bits& bits) {
    uint32_t w;
    std::memcpy(&w, &bits, sizeof w);
    return w;
}
template <typename Bits>
Bits withWord(uint32_t w) {
    Bits bits;
    std::memcpy(&bits, &w, sizeof w);
    return bits;
}

}  // namespace kvtest

// The alerts a printer pushes, raised when a refresh sees a change: the
// standard protocols report states, not events, so the backend compares each
// new snapshot with the one before it.
//
//   0x5F4 device status   the three status bytes changed
//   0x5F7 operator panel  the panel's display changed
//   0x5FE variable event  the panel lock changed (not by the backend's own write)
//   0x600 toner           a supply's percent fell across 20, 10, 5 or 0, or rose
//                         by 10 points or more (a new cartridge)
//   0x5FD job transition  a job changed state, or left the job list
//
// The request-based alert lists (paper jams, supplies ...) are not pushed:
// hosts compare those between polls themselves.
#pragma once

#include <cstdint>
#include <vector>

#include "snapshot.h"

namespace kvnet {

struct PushedAlert {
    uint16_t family = 0;
    kvsim::Bytes data;
};

// What changed from `before` to `after`, in the order of the list above.
std::vector<PushedAlert> changes(const Snapshot& before, const Snapshot& after);

}  // namespace kvnet

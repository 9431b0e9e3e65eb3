// A printer as the monitor watches it (monitor.h): shared by the schedule
// (monitor.cpp) and the per-printer steps (steps.cpp).
#pragma once

#include <memory>
#include <vector>

#include "monitor.h"
#include "outcome.h"

namespace kvprtd {

struct Monitor::Watched {
    enum class Phase { Open, Probe, Discover, Ready };

    Monitor* owner = nullptr;
    std::weak_ptr<Watched> self;
    int64_t dbId = 0;

    // Published: written by the scheduler under m_stateLock.
    PrinterConfig config;
    Snapshot snap;

    // The scheduler's.
    Phase phase = Phase::Open;
    bool busy = false, removed = false, inCycle = false, inWindow = false, wanted = false;
    bool bidiCapable = false;
    PrinterTrack track;   // what a poll's outcome reads and writes (outcome.h)
    std::vector<AnnouncedAlert> announced;
    std::unique_ptr<Poll> poll;

    // Whoever runs the printer's step (while busy).
    unsigned short handle = 0;
    std::unique_ptr<kvprt::Printer> printer;
};

}  // namespace kvprtd

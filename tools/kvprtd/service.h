// What kvprtd's parts share: the monitor, the store, the event stream, and
// the facts about this instance that the API reports.
#pragma once

#include <cstdint>
#include <mutex>
#include <string>

#include "eventhub.h"
#include "monitor.h"
#include "shard.h"
#include "store.h"

namespace kvprtd {

struct FleetFileState {
    std::string path;
    int64_t loadedAt = 0;      // when the fleet in use was read
    std::string reloadError;   // why the last SIGHUP's file was refused; empty when it was taken
    int64_t reloadErrorAt = 0;
};

struct Service {
    Service(Monitor& m, Store& s, EventHub& h, Shard sh, int64_t started)
        : monitor(m), store(s), hub(h), shard(sh), startedAt(started) {}

    Monitor& monitor;
    Store& store;
    EventHub& hub;
    Shard shard;
    int64_t startedAt = 0;

    FleetFileState fleetFile() const {
        std::lock_guard guard(m_lock);
        return m_fleetFile;
    }
    void setFleetFile(FleetFileState state) {
        std::lock_guard guard(m_lock);
        m_fleetFile = std::move(state);
    }

private:
    mutable std::mutex m_lock;
    FleetFileState m_fleetFile;
};

}  // namespace kvprtd

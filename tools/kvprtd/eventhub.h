// The event stream (GET /api/v1/events): every event as Server-Sent Events,
// to a bounded number of readers at once, and of those a bounded number from
// any one address, so that one client cannot take every place. The newest events are kept, so
// that a reader that comes back with Last-Event-ID misses none of them.
#pragma once

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <map>
#include <mutex>
#include <string>

#include "events.h"

namespace kvprtd {

class EventHub {
public:
    // Keeps the newest `keep` events; admits at most `maxReaders` readers,
    // `perAddress` of them from one address.
    EventHub(size_t keep, unsigned maxReaders, unsigned perAddress);

    void publish(const Event& event);
    // The id of the newest event published (or given to start from).
    uint64_t lastId() const;
    void startAfter(uint64_t id);

    // A reader's place in the stream; false when there are too many readers
    // in all or from `address`.
    bool admit(const std::string& address);
    void leave(const std::string& address);
    // The SSE frames of the events after `*cursor` (moved past them), waiting
    // up to `wait` for one; empty when none came. False once closed.
    bool next(uint64_t* cursor, std::string* frames, std::chrono::milliseconds wait);
    // Wakes every reader for good.
    void close();

private:
    struct Kept {
        uint64_t id;
        std::string frame;
    };
    mutable std::mutex m_lock;
    std::condition_variable m_arrived;
    std::deque<Kept> m_kept;
    size_t m_keep;
    unsigned m_maxReaders, m_perAddress, m_readers = 0;
    std::map<std::string, unsigned> m_readersFrom;
    uint64_t m_lastId = 0;
    bool m_closed = false;
};

}  // namespace kvprtd

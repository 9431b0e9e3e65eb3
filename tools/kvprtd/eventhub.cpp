#include "eventhub.h"

namespace kvprtd {

EventHub::EventHub(size_t keep, unsigned maxReaders, unsigned perAddress)
    : m_keep(keep), m_maxReaders(maxReaders), m_perAddress(perAddress) {}

void EventHub::publish(const Event& event) {
    std::string frame = "id: " + std::to_string(event.id) + "\nevent: " + event.kind + "\ndata: " + eventJson(event) +
                        "\n\n";
    {
        std::lock_guard guard(m_lock);
        m_kept.push_back({event.id, std::move(frame)});
        if (m_kept.size() > m_keep) m_kept.pop_front();
        if (event.id > m_lastId) m_lastId = event.id;
    }
    m_arrived.notify_all();
}

uint64_t EventHub::lastId() const {
    std::lock_guard guard(m_lock);
    return m_lastId;
}

void EventHub::startAfter(uint64_t id) {
    std::lock_guard guard(m_lock);
    if (id > m_lastId) m_lastId = id;
}

bool EventHub::admit(const std::string& address) {
    std::lock_guard guard(m_lock);
    auto from = m_readersFrom.find(address);
    if (m_closed || m_readers >= m_maxReaders || (from != m_readersFrom.end() && from->second >= m_perAddress))
        return false;
    ++m_readers;
    ++m_readersFrom[address];
    return true;
}

void EventHub::leave(const std::string& address) {
    std::lock_guard guard(m_lock);
    --m_readers;
    if (--m_readersFrom[address] == 0) m_readersFrom.erase(address);
}

bool EventHub::next(uint64_t* cursor, std::string* frames, std::chrono::milliseconds wait) {
    std::unique_lock guard(m_lock);
    m_arrived.wait_for(guard, wait, [&] { return m_closed || m_lastId > *cursor; });
    if (m_closed) return false;
    frames->clear();
    for (const Kept& k : m_kept)
        if (k.id > *cursor) *frames += k.frame;
    if (m_lastId > *cursor) *cursor = m_lastId;
    return true;
}

void EventHub::close() {
    {
        std::lock_guard guard(m_lock);
        m_closed = true;
    }
    m_arrived.notify_all();
}

}  // namespace kvprtd

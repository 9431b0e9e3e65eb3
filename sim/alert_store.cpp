#include "alert_store.h"

#include <algorithm>
#include <cstring>

#include "kvprtobj/zorbce.h"

namespace kvsim {

unsigned short AlertStore::hold(uint16_t family, std::vector<uint8_t> data, bool raised) {
    unsigned short id;
    do id = m_nextId++;
    while (id == 0 || m_alerts.count(id));
    m_alerts[id] = Held{family, std::move(data)};
    if (raised) {
        m_raisedOrder.push_back(id);
        if (m_raisedOrder.size() > kMaxRaised) {
            m_alerts.erase(m_raisedOrder.front());
            m_raisedOrder.pop_front();
        }
    }
    return id;
}

long AlertStore::read(unsigned short id, void* buffer, unsigned long* length) const {
    auto it = m_alerts.find(id);
    if (it == m_alerts.end()) return BCE_E_INVALID;
    const std::vector<uint8_t>& data = it->second.data;
    size_t copy = std::min<size_t>(data.size(), *length);
    if (copy) std::memcpy(buffer, data.data(), copy);
    *length = data.size();
    return BCE_OK;
}

}  // namespace kvsim

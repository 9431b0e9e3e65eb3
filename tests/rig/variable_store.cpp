#include "variable_store.h"

namespace kvtest {

VariableStore::VariableStore() : m_state(std::make_shared<State>()) {}

void VariableStore::attachTo(ScriptedPrinter& printer) {
    printer.setHandler([state = m_state](const SentRequest& request) { return answer(*state, request); });
}

void VariableStore::set(uint16_t id, const ByteVec& value) {
    std::lock_guard guard(m_state->lock);
    m_state->values[id] = value;
}

std::optional<ByteVec> VariableStore::get(uint16_t id) const {
    std::lock_guard guard(m_state->lock);
    auto it = m_state->values.find(id);
    if (it == m_state->values.end()) return std::nullopt;
    return it->second;
}

std::map<uint16_t, ByteVec> VariableStore::all() const {
    std::lock_guard guard(m_state->lock);
    return m_state->values;
}

void VariableStore::refuse(uint16_t id, long rc) {
    std::lock_guard guard(m_state->lock);
    m_state->refused[id] = rc;
}

// Replies after the transport's strip: a byte the operations do not read,
// the echoed id, and for a read the value. An unknown variable reads as -3.
Answer VariableStore::answer(State& state, const SentRequest& request) {
    if ((request.code != 0x4E && request.code != 0x4F) || request.data.size() < 2) return Answer{};
    const uint16_t id = static_cast<uint16_t>(request.data[0] << 8 | request.data[1]);
    std::lock_guard guard(state.lock);
    if (auto refused = state.refused.find(id); refused != state.refused.end()) return fail(refused->second);
    Bytes echo = Bytes().u8(0).be16(id);
    if (request.code == 0x4F) {
        state.values[id] = ByteVec(request.data.begin() + 2, request.data.end());
        return reply(echo);
    }
    auto it = state.values.find(id);
    if (it == state.values.end()) return fail(-3);
    return reply(echo.raw(it->second));
}

}  // namespace kvtest

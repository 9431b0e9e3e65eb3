// Page counts, control commands, object-model and miscellaneous variables, ports.
#include "alert_data.h"
#include "requests.h"

namespace kvsim {
namespace {

Writer& putIdEcho(Writer& w, uint16_t id) { return w.u8(0x00).be16(id); }

// A one-variable read: the id echoed, then the value from `store`.
Reply readFrom(const std::map<uint16_t, Bytes>& store, const Request& r) {
    if (r.length != 2) return invalidRequest();
    uint16_t id = be16At(r, 0);
    auto it = store.find(id);
    if (it == store.end()) return invalidRequest();
    Writer w;
    putIdEcho(w, id).raw(it->second.data(), it->second.size());
    return replyWith(w);
}

}  // namespace

Reply Machine::pageCounts(const Request& r) {
    if (r.length != 0) return invalidRequest();
    Writer w;
    w.u8(static_cast<unsigned>(m_pageCounts.size()));
    for (const PageCount& c : m_pageCounts) w.u8(c.type).be32(c.count);
    return replyWith(w);
}

Reply Machine::resetHostPageCount(const Request& r) {
    if (r.length != 0) return invalidRequest();
    for (PageCount& c : m_pageCounts)
        if (c.type == m_profile.hostPageCountType) c.count = 0;
    return done();
}

// Power-on reset: the panel starts again with the profile's text.
Reply Machine::powerOnReset(const Request& r) {
    if (!dataIs(r, {0x01})) return invalidRequest();
    m_panelLines = m_profile.panel.text;
    raise(kFamilyOperatorPanel, operatorPanelAlert(display()));
    return done();
}

// Loop-back: the request bytes come back as they were sent.
Reply Machine::loopBack(const Request& r) { return replyWith(Bytes(r.data, r.data + r.length)); }

// Non-volatile memory reset: every object-model variable gets its profile value again.
Reply Machine::resetNvram(const Request& r) {
    if (!dataIs(r, {0x00})) return invalidRequest();
    m_variables.clear();
    for (const Variable& v : m_profile.variables) storeVariable(v.id, v.value);
    return done();
}

Reply Machine::remoteOnOffline(const Request& r) {
    if (dataIs(r, {0x01, 0x03}))
        m_online = false;
    else if (dataIs(r, {0x00}))
        m_online = true;
    else
        return invalidRequest();
    return replyWith(Bytes{0x00, r.data[0], 0x01});
}

Reply Machine::readVariable(const Request& r) { return readFrom(m_variables, r); }

// Setting a variable raises a variable-event alert with its new value.
Reply Machine::setVariable(const Request& r) {
    if (r.length < 2 || r.length > 2 + 255) return invalidRequest();
    uint16_t id = be16At(r, 0);
    if (m_variables.find(id) == m_variables.end()) return invalidRequest();
    for (const Variable& v : m_profile.variables)
        if (v.id == id && v.readOnly) return invalidRequest();
    Bytes value(r.data + 2, r.data + r.length);
    raise(kFamilyVariableEvent, variableEventAlert(id, value));
    storeVariable(id, std::move(value));
    Writer w;
    putIdEcho(w, id);
    return replyWith(w);
}

Reply Machine::readMiscVariable(const Request& r) { return readFrom(m_misc, r); }

// Several variables: the records of the ids the printer has, in request
// order; unknown ids are left out.
Reply Machine::readVariables(const Request& r) {
    if (r.length < 1 || r.length != 1 + 2u * r.data[0]) return invalidRequest();
    Writer w;
    w.u8(0x00);
    for (size_t i = 0; i < r.data[0]; ++i) {
        uint16_t id = be16At(r, 1 + 2 * i);
        auto it = m_variables.find(id);
        if (it == m_variables.end()) continue;
        w.be16(id).u8(static_cast<unsigned>(it->second.size())).raw(it->second.data(), it->second.size());
    }
    return replyWith(w);
}

Reply Machine::availablePorts(const Request& r) {
    if (r.length != 0) return invalidRequest();
    Writer w;
    w.u8(static_cast<unsigned>(m_profile.ports.size())).raw(m_profile.ports.data(), m_profile.ports.size());
    return replyWith(w);
}

}  // namespace kvsim

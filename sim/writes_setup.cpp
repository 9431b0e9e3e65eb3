// Page counts, variables, on- and offline, jobs, custom names and the current font.
#include <algorithm>

#include "alert_data.h"
#include "machine.h"

namespace kvsim {
namespace {

constexpr uint8_t kPriorityChanged = 0x00, kNoSuchJob = 0x01;

}  // namespace

Reply Machine::resetHostPageCount(const Request& r) {
    if (r.length != 0) return invalidRequest();
    for (PageCount& c : m_state.pageCounts)
        if (c.type == m_profile.hostPageCountType) c.count = 0;
    return done();
}

// Non-volatile memory reset: every object-model variable gets its profile value again.
Reply Machine::resetNvram(const Request& r) {
    if (!dataIs(r, {0x00})) return invalidRequest();
    restoreVariables();
    return done();
}

void Machine::restoreVariables() {
    m_state.variables.clear();
    for (const Variable& v : m_profile.variables) {
        storeVariable(v.id, v.value);
        m_state.variables.back().readOnly = v.readOnly;
    }
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

// Setting a variable raises a variable-event alert with its new value.
Reply Machine::setVariable(const Request& r) {
    if (r.length < 2 || r.length > 2 + 255) return invalidRequest();
    uint16_t id = be16At(r, 0);
    auto it = std::find_if(m_state.variables.begin(), m_state.variables.end(),
                           [&](const Variable& v) { return v.id == id; });
    if (it == m_state.variables.end() || it->readOnly) return invalidRequest();
    Bytes value(r.data + 2, r.data + r.length);
    raise(kFamilyVariableEvent, variableEventAlert(id, value));
    storeVariable(id, std::move(value));
    return replyWith(Writer().u8(0x00).be16(id).take());
}

// The job is gone; a job-transition alert carries its record.
Reply Machine::deleteJob(const Request& r) {
    if (r.length != 2) return invalidRequest();
    uint16_t number = be16At(r, 0);
    auto& jobs = m_state.jobs;
    auto it = std::find_if(jobs.begin(), jobs.end(), [&](const Job& j) { return j.number == number; });
    if (it == jobs.end()) return invalidRequest();
    raise(kFamilyJobTransition, jobTransitionAlert(*it));
    jobs.erase(it);
    return done();
}

// Answer byte 0 when the priority changed, 1 when there is no such job.
Reply Machine::changeJobPriority(const Request& r) {
    if (r.length != 3) return invalidRequest();
    uint16_t number = be16At(r, 1);
    for (Job& j : m_state.jobs) {
        if (j.number != number) continue;
        j.priority = r.data[0];
        raise(kFamilyJobTransition, jobTransitionAlert(j));
        return replyWith(Bytes{kPriorityChanged});
    }
    return replyWith(Bytes{kNoSuchJob});
}

// 0x91 a form name, 0x92 a bin nickname: 01, number, length + 1, name, 00.
Reply Machine::setCustomName(const Request& r) {
    if (r.length < 4 || r.data[0] != 0x01 || r.length != 3u + r.data[2] || r.data[r.length - 1] != 0)
        return invalidRequest();
    auto& names = r.code == kvbidi::kSetOutputBinNickname ? m_state.binNicknames : m_state.formNames;
    std::string name(reinterpret_cast<const char*>(r.data + 3), r.data[2] - 1u);
    auto it = std::find_if(names.begin(), names.end(), [&](const CustomName& n) { return n.number == r.data[1]; });
    if (it != names.end())
        it->name = name;
    else if (names.size() < 255)
        names.push_back({r.data[1], name});
    else
        return invalidRequest();
    return done();
}

// The new current font reads back; the status byte is the profile's.
Reply Machine::setCurrentFont(const Request& r) {
    if (r.length != 9) return invalidRequest();
    CurrentFont& font = m_state.currentFont;
    font.tag = r.data[0];
    font.position = be16At(r, 1);
    font.symbolSet = be16At(r, 3);
    font.size = (uint32_t{be16At(r, 5)} << 16) | be16At(r, 7);
    return replyWith(Bytes{0x00, m_profile.setFontStatus});
}

}  // namespace kvsim

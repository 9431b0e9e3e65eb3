// Status, alert runs and the operator panel.
#include "alert_data.h"
#include "requests.h"

namespace kvsim {
namespace {

void putStatusRecords(Writer& w, const std::vector<StatusRecord>& records) {
    w.u8(static_cast<unsigned>(records.size()));
    for (const StatusRecord& r : records) w.u8(r.id).u8(r.present).u8(r.status);
}

constexpr uint8_t kResetKey = 0xB1, kContinueKey = 0xB0;
constexpr uint16_t kOperatorInterventionRun = 0x07;

}  // namespace

Reply Machine::deviceStatus(const Request& r) {
    if (r.length != 0) return invalidRequest();
    return replyWith(Bytes(m_deviceStatus.begin(), m_deviceStatus.end()));
}

Reply Machine::inputStatus(const Request& r) {
    if (!dataIs(r, {0x00})) return invalidRequest();
    Writer w;
    putStatusRecords(w, m_profile.inputStatus);
    return replyWith(w);
}

Reply Machine::outputStatus(const Request& r) {
    if (!dataIs(r, {0x00})) return invalidRequest();
    Writer w;
    putStatusRecords(w, m_profile.outputStatus);
    return replyWith(w);
}

// Requests 6 to 11: a count byte and records of category, instance,
// condition, extra length and the extra bytes.
Reply Machine::alertRun(const Request& r) {
    if (r.length != 0) return invalidRequest();
    const std::vector<AlertRecord>& records = m_alertRuns[r.code];
    Writer w;
    w.u8(static_cast<unsigned>(records.size()));
    for (const AlertRecord& a : records) {
        w.u8(a.category).u8(a.instance).u8(a.condition).u8(static_cast<unsigned>(a.extra.size()));
        w.raw(a.extra.data(), a.extra.size());
    }
    return replyWith(w);
}

Reply Machine::suppliesStatus(const Request& r) {
    if (!dataIs(r, {0x00})) return invalidRequest();
    Writer w;
    w.u8(static_cast<unsigned>(m_profile.suppliesStatus.size()));
    for (const SupplyStatusRecord& s : m_profile.suppliesStatus) w.u8(s.category).u8(s.instance).u8(s.condition).u8(s.value);
    return replyWith(w);
}

// A press shows the button's text and sets the lock where the profile says
// so; every press announces the display in an operator-panel alert.
Reply Machine::pushButton(const Request& r) {
    if (r.length != 3 || r.data[0] != 0 || r.data[1] != 0) return invalidRequest();
    for (const PanelButton& b : m_profile.panel.buttons) {
        if (b.code != r.data[2]) continue;
        if (b.text) m_panelLines = *b.text;
        if (b.lock) storeVariable(kVarPanelLock, Bytes{*b.lock});
    }
    raise(kFamilyOperatorPanel, operatorPanelAlert(display()));
    return done();
}

Reply Machine::panelText(const Request& r) {
    if (r.length != 0) return invalidRequest();
    std::string text = display();
    return replyWith(Bytes(text.begin(), text.end()));
}

// Reset shows the profile's first panel text again; continue clears the
// operator interventions. Both echo their two request bytes.
Reply Machine::resetOrContinue(const Request& r) {
    if (r.length != 2 || r.data[0] != 0 || (r.data[1] != kResetKey && r.data[1] != kContinueKey))
        return invalidRequest();
    if (r.data[1] == kResetKey)
        m_panelLines = m_profile.panel.text;
    else
        m_alertRuns[kOperatorInterventionRun].clear();
    raise(kFamilyOperatorPanel, operatorPanelAlert(display()));
    return replyWith(Bytes{0x00, r.data[0], r.data[1]});
}

}  // namespace kvsim

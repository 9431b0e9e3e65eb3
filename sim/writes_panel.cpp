// The operator panel's buttons, reset and continue, and the power-on reset.
#include "alert_data.h"
#include "machine.h"

namespace kvsim {
namespace {

constexpr uint8_t kResetKey = kvbidi::kResetKey, kContinueKey = kvbidi::kContinueKey;
constexpr uint16_t kOperatorInterventionRun = kvbidi::kOperatorIV;

}  // namespace

// A press shows the button's text and sets the lock where the profile says
// so; every press announces the display in an operator-panel alert.
Reply Machine::pushButton(const Request& r) {
    if (r.length != 3 || r.data[0] != 0 || r.data[1] != 0) return invalidRequest();
    for (const PanelButton& b : m_profile.panel.buttons) {
        if (b.code != r.data[2]) continue;
        if (b.text) m_state.panel.text = *b.text;
        if (b.lock) storeVariable(kVarPanelLock, Bytes{*b.lock});
    }
    raisePanel();
    return done();
}

// Reset shows the profile's first panel text again; continue clears the
// operator interventions. Both echo their two request bytes.
Reply Machine::resetOrContinue(const Request& r) {
    if (r.length != 2 || r.data[0] != 0 || (r.data[1] != kResetKey && r.data[1] != kContinueKey))
        return invalidRequest();
    if (r.data[1] == kResetKey)
        m_state.panel.text = m_profile.panel.text;
    else
        m_state.alertRuns[kOperatorInterventionRun].clear();
    raisePanel();
    return replyWith(Bytes{0x00, r.data[0], r.data[1]});
}

// Power-on reset: the panel starts again with the profile's text.
Reply Machine::powerOnReset(const Request& r) {
    if (!dataIs(r, {0x01})) return invalidRequest();
    m_state.panel.text = m_profile.panel.text;
    raisePanel();
    return done();
}

}  // namespace kvsim

// The remote operator panel: lock, buttons, display text, reset and continue.
#include <algorithm>
#include <climits>
#include <cstring>
#include <new>

#include "prtobj/internal/ask.h"

namespace {

constexpr unsigned char kPanelAlertMark[] = {0xE1};

// Characters of the panel display.
size_t panelChars(int width, int height) {
    return width > 0 && height > 0 ? static_cast<size_t>(width) * static_cast<size_t>(height) : 0;
}

// Creates the client's record at once, so it owns one whatever follows.
KVPrtObj::OPPANELDATA* newPanel(void** panel) {
    auto* record = new (std::nothrow) KVPrtObj::OPPANELDATA;
    *panel = record;
    return record;
}

// parseROPData reads a whole display of `chars` characters. When the text at
// `text` is shorter, `display` receives a copy padded with zero bytes, at
// which the translated text ends; otherwise `display` stays empty and the
// text is used where it stands. False when the copy cannot be made.
bool wholeDisplay(kvpo::ReplyReader text, size_t chars, kvpo::Buffer& display) {
    if (text.remaining() >= chars) return true;
    display.data = kvPrtObjNew(chars);
    if (display.data == nullptr) return false;
    display.length = chars;
    std::memset(display.data, 0, chars);
    text.raw(display.data, text.remaining());
    return true;
}

long resetOrContinue(KVPrtObj& printer, unsigned char what) {
    unsigned char request[2] = {0x00, what};
    auto [rc, reply] = kvpo::ask(printer, kvbidi::kResetContinue, request);
    if (!reply) return rc;
    auto r = reply.reader();
    bool echoed = r.byteAt(1) == 0x00 && r.byteAt(2) == what;
    return echoed && r.ok() ? BCE_OK : kvpo::kNoEcho;
}

}  // namespace

long KVPrtObj::bidiROPQueryLock(int* locked) {
    auto [rc, value] = kvpo::readVariable(*this, kvbidi::kPanelLockVar);
    if (!value) return rc;
    auto r = value.reader();   // the two id bytes, then the value
    unsigned char state = r.byteAt(2);
    if (!r.ok()) return kvpo::kShortReply;
    *locked = state != 0 ? 1 : 0;
    return BCE_OK;
}

long KVPrtObj::bidiROPSetLock(int lock) {
    auto id = kvbidi::idBytes(kvbidi::kPanelLockVar);
    unsigned char value = lock ? 1 : 0;
    long rc = bidiSetOMVar(id.data(), &value, 1);
    if (rc == BCE_OK) bidiROPPushButton(kvbidi::kLockButton);
    return rc;
}

long KVPrtObj::bidiROPPushButton(unsigned long button) {
    unsigned char request[3] = {0x00, 0x00, static_cast<unsigned char>(button & 0xFF)};
    return kvpo::tell(*this, kvbidi::kPushButton, request);
}

// Panel text by request (0x43) or by alert (family 0x5F7, data 0xE1 and the
// text; other data give -2). `*panel` receives a new OPPANELDATA at once,
// whatever follows, and the caller deletes it; when it cannot be made,
// `*panel` is null and the result -18 (as when the padded copy of a short
// text below cannot be made). A text shorter than width x height
// is taken as far as it goes: strPanelText then holds the characters that
// came (as with a zero byte inside the text).
long KVPrtObj::bidiROPQueryData(void** panel) {
    OPPANELDATA* record = newPanel(panel);
    if (record == nullptr) return BCE_E_NO_MEMORY;
    auto [rc, reply] = kvpo::ask(*this, kvbidi::kPanelText);
    if (!reply) return rc;
    kvpo::Buffer display;
    if (!wholeDisplay(reply.reader(), panelChars(m_nPanelWidth, m_nPanelHeight), display)) return BCE_E_NO_MEMORY;
    parseROPData(display.data ? display.data : reply.data, record);
    return rc;
}

long KVPrtObj::bidiROPQueryAlert(unsigned short alertId, void** panel) {
    OPPANELDATA* record = newPanel(panel);
    if (record == nullptr) return BCE_E_NO_MEMORY;
    auto [rc, alert] = kvpo::readAlert(*this, alertId, kvbidi::kPanelAlert);
    if (!alert) return rc;
    auto r = alert.reader();
    if (!r.mark(kPanelAlertMark)) return kvpo::kNoEcho;
    kvpo::Buffer display;
    if (!wholeDisplay(r, panelChars(m_nPanelWidth, m_nPanelHeight), display)) return BCE_E_NO_MEMORY;
    parseROPData(display.data ? display.data : static_cast<unsigned char*>(alert.data) + 1, record);
    return BCE_OK;
}

void KVPrtObj::parseROPData(void* text, OPPANELDATA* panel) {
    panel->nPanelWidth = m_nPanelWidth;
    panel->nPanelHeight = m_nPanelHeight;
    size_t n = panelChars(m_nPanelWidth, m_nPanelHeight);
    panel->strPanelText.assign(static_cast<const char*>(text), n);
    TranslateOpPanelData(&panel->strPanelText, static_cast<int>(std::min<size_t>(n, INT_MAX)));
}

long KVPrtObj::bidiROPReset() { return resetOrContinue(*this, kvbidi::kResetKey); }

long KVPrtObj::bidiROPContinue() { return resetOrContinue(*this, kvbidi::kContinueKey); }

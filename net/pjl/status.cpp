// The device status of USTATUS DEVICE and INFO STATUS in the library's
// device-status bytes, both ways, and the unsolicited message a printer sends.
#include <algorithm>

#include "pjl.h"

namespace kvnet::pjl {
namespace {

// Device-status byte 0: bit 0 ready, bits 6-7 activity.
constexpr uint8_t kReady = 0x01;
constexpr unsigned kActivityShift = 6;
constexpr uint8_t kIdle = 0, kActivityPrinting = 1, kActivityWarmingUp = 2;
// Byte 1: the conditions.
constexpr uint8_t kAttention = 0x01, kJam = 0x02, kWarning = 0x04, kService = 0x08;
// Byte 2: the device's state.
constexpr uint8_t kStateUnknown = 1, kStateRunning = 2, kStateWarning = 3, kStateTesting = 4, kStateDown = 5;

constexpr unsigned kGroup = 1000;   // a code's kind: its thousands

}  // namespace

std::array<uint8_t, 3> deviceStatusBytes(const DeviceStatus& status) {
    const unsigned group = status.code / kGroup;
    uint8_t conditions = 0, state = kStateUnknown;
    if (status.code == kCodeSelfTest) state = kStateTesting;
    else if (group == 10 || group == 11) state = kStateRunning;
    else if (group == 30 || group == 35) state = kStateWarning, conditions = kWarning;
    else if (group == kCodeJam / kGroup) state = kStateDown, conditions = kJam;
    else if (group >= 40 && group <= 44) state = kStateDown, conditions = kAttention;
    else if (group >= kCodeService / kGroup) state = kStateDown, conditions = kService;
    const bool ready = status.online && (state == kStateRunning || state == kStateWarning);
    const uint8_t activity = status.code == kCodePrinting ? kActivityPrinting
                             : status.code == kCodeWarmingUp ? kActivityWarmingUp
                                                             : kIdle;
    return {static_cast<uint8_t>((ready ? kReady : 0) | activity << kActivityShift), conditions, state};
}

DeviceStatus deviceStatusOf(const std::array<uint8_t, 3>& bytes, std::string_view display) {
    DeviceStatus s;
    s.online = (bytes[0] & kReady) != 0;
    s.display = std::string(display);
    const unsigned activity = bytes[0] >> kActivityShift;
    if (bytes[1] & kJam) s.code = kCodeJam;
    else if (bytes[1] & kService) s.code = kCodeService;
    else if ((bytes[1] & kAttention) || bytes[2] == kStateDown) s.code = kCodeIntervention;
    else if ((bytes[1] & kWarning) || bytes[2] == kStateWarning) s.code = kCodeWarning;
    else if (bytes[2] == kStateTesting) s.code = kCodeSelfTest;
    else if (activity == kActivityWarmingUp) s.code = kCodeWarmingUp;
    else if (activity == kActivityPrinting) s.code = kCodePrinting;
    else s.code = s.online ? kCodeReady : kCodeOffline;
    return s;
}

std::string deviceStatusMessage(const DeviceStatus& status) {
    std::string display = status.display.substr(0, kMaxValue);
    for (char& c : display)
        if (c < 0x20 || c > 0x7E || c == '"') c = '?';
    std::string m(kPrefix);
    m.append(" USTATUS DEVICE").append(kLineEnd);
    m.append("CODE=").append(std::to_string(status.code)).append(kLineEnd);
    m.append("DISPLAY=\"").append(display).append("\"").append(kLineEnd);
    m.append("ONLINE=").append(status.online ? "TRUE" : "FALSE").append(kLineEnd);
    m.append(1, kFormFeed);
    return m;
}

std::optional<std::string> unsolicitedKind(std::string_view reply) {
    auto c = parseCommand(reply.substr(0, std::min(reply.find('\n'), reply.size())));
    if (!c || c->verb != "USTATUS") return std::nullopt;
    return c->words.empty() ? std::string() : c->words[0];
}

}  // namespace kvnet::pjl

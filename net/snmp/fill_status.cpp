// Device status (0x01) and the status of input sources (0x02) and output
// bins (0x03), from hrDeviceStatus, hrPrinterStatus, the error state, the
// input and output tables and the alert rows on them.
#include <algorithm>

#include "fill_parts.h"

namespace kvnet::snmp::detail {
namespace {

// Input and output states (status byte bits 0-2).
enum State : uint8_t { kEmpty = 0, kLow = 1, kHasMedia = 2, kUnknown = 3, kUnavailable = 4, kOffline = 5, kBusy = 6 };
enum OutputState : uint8_t { kHasRoom = 0, kNearlyFull = 6, kFull = 7 };
constexpr uint8_t kNeedsAttention = 0x08;

// Activity, device status byte 0 bits 6-7.
uint8_t activity(std::optional<int64_t> printerStatus) {
    if (printerStatus == oid::hrPrinterIdle) return 0;
    if (printerStatus == oid::hrPrinterPrinting) return 1;
    if (printerStatus == oid::hrPrinterWarmup) return 2;
    return 3;
}

// Below 10 % of the maximum counts as low (and as nearly full for the room
// left in an output bin).
bool belowTenth(int64_t level, std::optional<int64_t> max) {
    return max && *max > 0 && level < *max / 10 + (*max % 10 != 0);   // level * 10 < max, without overflow
}

kvsim::StatusRecord inputStatus(const Printer& p, const Input& in) {
    auto number = [&](uint32_t column) { return p.number(oid::prtInputEntry, column, {in.index}); };
    auto status = number(oid::prtInputStatus);
    auto level = number(oid::prtInputCurrentLevel);
    int64_t availability = status ? (*status & oid::availabilityMask) : oid::availableIdle;
    auto alert = [&](std::initializer_list<int64_t> codes) { return p.hasCurrentAlert(oid::input, in.index, codes); };

    kvsim::StatusRecord r{in.number, 1, kUnknown};
    if (alert({oid::code::inputMediaTrayMissing, oid::code::subunitMissing}) ||
        availability == oid::unavailableOnRequest || availability == oid::unavailableBroken) {
        r.present = 0;
        r.status = kUnavailable;
    } else if (status && (*status & oid::offLine)) {
        r.status = kOffline;
    } else if (alert({oid::code::inputMediaSupplyEmpty, oid::code::subunitEmpty})) {
        r.status = kEmpty;
    } else if (alert({oid::code::inputMediaSupplyLow, oid::code::subunitAlmostEmpty})) {
        r.status = kLow;
    } else if (availability == oid::availableBusy) {
        r.status = kBusy;
    } else if (level == 0) {
        r.status = kEmpty;
    } else if (level == oid::levelSomeRemaining) {
        r.status = kHasMedia;
    } else if (level && *level > 0) {
        r.status = belowTenth(*level, number(oid::prtInputMaxCapacity)) ? kLow : kHasMedia;
    }
    bool anyAlert = std::any_of(p.alerts.begin(), p.alerts.end(), [&](const AlertRow& a) {
        return a.current() && a.group == oid::input && a.groupIndex == in.index;
    });
    if ((status && (*status & (oid::nonCriticalAlerts | oid::criticalAlerts))) || anyAlert) r.status |= kNeedsAttention;
    return r;
}

kvsim::StatusRecord outputStatus(const Printer& p, const Output& out) {
    auto number = [&](uint32_t column) { return p.number(oid::prtOutputEntry, column, {out.index}); };
    auto status = number(oid::prtOutputStatus);
    auto room = number(oid::prtOutputRemainingCapacity);
    int64_t availability = status ? (*status & oid::availabilityMask) : oid::availableIdle;
    auto alert = [&](std::initializer_list<int64_t> codes) { return p.hasCurrentAlert(oid::output, out.index, codes); };

    kvsim::StatusRecord r{out.number, 1, kUnknown};
    if (alert({oid::code::outputMediaTrayMissing, oid::code::subunitMissing}) ||
        availability == oid::unavailableOnRequest || availability == oid::unavailableBroken ||
        (status && (*status & oid::offLine))) {
        r.present = 0;
        r.status = kUnavailable;
    } else if (alert({oid::code::outputMediaTrayFull, oid::code::subunitFull}) || room == 0) {
        r.status = kFull;
    } else if (alert({oid::code::outputMediaTrayAlmostFull, oid::code::subunitAlmostFull})) {
        r.status = kNearlyFull;
    } else if (room == oid::levelSomeRemaining) {
        r.status = kHasRoom;
    } else if (room && *room > 0) {
        r.status = belowTenth(*room, number(oid::prtOutputMaxCapacity)) ? kNearlyFull : kHasRoom;
    }
    return r;
}

}  // namespace

void fillStatus(Printer& p) {
    auto deviceStatus = p.number(oid::hrDeviceEntry, oid::hrDeviceStatus);
    auto printerStatus = p.number(oid::hrPrinterEntry, oid::hrPrinterStatus);
    if (deviceStatus || printerStatus) {
        bool running = deviceStatus == oid::hrRunning || deviceStatus == oid::hrWarning;
        bool ready = running && !p.errorBit(oid::offline);
        p.profile.deviceStatus[0] = static_cast<uint8_t>((ready ? 1 : 0) | activity(printerStatus) << 6);
        p.profile.deviceStatus[1] = 0;   // condition flags: the printer derives them from every source
        bool known = deviceStatus && *deviceStatus >= oid::hrUnknown && *deviceStatus <= oid::hrDown;
        p.profile.deviceStatus[2] = known ? static_cast<uint8_t>(*deviceStatus) : 0;
        p.snapshot.answer(kvbidi::kDeviceStatus);
    }

    for (Input& in : p.inputs) {
        in.status = inputStatus(p, in);
        p.profile.inputStatus.push_back(in.status);
    }
    if (!p.inputs.empty()) p.snapshot.answer(kvbidi::kInputStatus);

    for (Output& out : p.outputs) {
        out.status = outputStatus(p, out);
        p.profile.outputStatus.push_back(out.status);
    }
    if (!p.outputs.empty()) p.snapshot.answer(kvbidi::kOutputStatus);
}

}  // namespace kvnet::snmp::detail

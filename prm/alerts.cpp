// Device-management alerts (family 0x601): reading and decoding them, and
// fetching the directory that a listing alert announces.
#include <new>
#include <utility>

#include "internal.h"

using namespace kvprm;

namespace {

// Alert data: 03 A0, the operation, the device, the source device, a counted file name.
constexpr uint8_t kMarker[2] = {0x03, 0xA0};

bool knownOperation(uint8_t operation) {
    using Alert = KVPrtObj::DEVICEMGMTALERTDATA;
    return operation >= Alert::OP_LISTING && operation <= Alert::OP_COPY;
}

// Request 0xA4: the status byte, the device, the directory text behind its 16-bit length.
long readDirectory(KVPrtObj& printer, KVPrtObj::DEVICEID device, CString* text) {
    // The device as the alert names it, unchecked.
    auto [rc, reply] = sendRequest(printer, kvbidi::kStorageReadDirectory, Request().u8(static_cast<unsigned>(device)));
    if (rc != BCE_OK) return rc;
    auto body = reply.reader();
    body.skip(1);   // the status byte
    uint8_t echoed = body.u8();
    *text = body.text(body.be16());
    return body.ok() && echoed == static_cast<uint8_t>(device) ? BCE_OK : kvpo::kShortReply;
}

}  // namespace

long bidiResMgmtQueryAlert(KVPrtObj& printer, unsigned short alertId, void* alert) {
    if (alert == nullptr) return kvpo::kNullArgument;
    auto [rc, data] = kvpo::readAlert(printer, alertId, KVPRM_ALERT_FAMILY);
    if (rc != BCE_OK) return rc;
    if (data.data == nullptr) return BCE_E_BAD_REPLY;   // longer than the alert buffer: no alert of this family
    try {
        KVPrtObj::DEVICEMGMTALERTDATA decoded;
        rc = printer.parseDeviceAlertData(data.data, static_cast<long>(data.length), &decoded);
        if (rc == BCE_OK && decoded.byOperation == decoded.OP_LISTING)
            rc = readDirectory(printer, decoded.eDevice, &decoded.strDirectoryData);
        if (rc == BCE_OK) *static_cast<KVPrtObj::DEVICEMGMTALERTDATA*>(alert) = std::move(decoded);
        return rc;
    } catch (const std::bad_alloc&) {
        return BCE_E_NO_MEMORY;
    }
}

int parseResMgmtAlertData(void* data, long length, KVPrtObj::DEVICEMGMTALERTDATA* alert) {
    if (alert == nullptr) return kvpo::kNullArgument;
    kvpo::ReplyReader r(data, length > 0 ? static_cast<size_t>(length) : 0);
    if (!r.mark(kMarker)) return kvpo::kNoEcho;
    uint8_t operation = r.u8();
    auto device = static_cast<KVPrtObj::DEVICEID>(r.u8());
    auto source = static_cast<KVPrtObj::DEVICEID>(r.u8());
    if (!r.ok() || !knownOperation(operation)) return BCE_E_BAD_REPLY;
    try {
        CString name = r.countedText();
        if (!r.ok()) return kvpo::kShortReply;
        alert->byOperation = operation;
        alert->eDevice = device;
        alert->eSourceDevice = source;
        alert->strFileName = std::move(name);
        alert->strDirectoryData.clear();
        return BCE_OK;
    } catch (const std::bad_alloc&) {
        return BCE_E_NO_MEMORY;
    }
}

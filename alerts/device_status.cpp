// Device status by request and by alert, and object-model variable event alerts.

#include "alerts/internal/bit_word.h"
#include "prtobj/internal/ask.h"

namespace {

constexpr unsigned long kStatusBytes = 3;
constexpr uint32_t kDecodedBits = 0x7FF;   // bits 0..10 of PRINTERSTATUS

// Object-model variable event alerts: 03 40, the event type, then its data.
constexpr unsigned char kEventMark[] = {0x03, 0x40};
constexpr uint8_t kEventVariableValue = 9;    // variable id (2 bytes), then the value to the end
constexpr uint8_t kEventValueByte = 12;       // one value byte

}  // namespace

void KVPrtObj::parseDeviceStatusData(unsigned char* bytes, PRINTERSTATUS* status) {
    kvpo::ReplyReader r(bytes, kStatusBytes);
    uint8_t byte0 = r.u8();
    uint8_t byte1 = r.u8();
    uint8_t byte2 = r.u8();
    PRINTERSTATUS decoded{};
    decoded.uStatusByte0Bit0 = byte0 & 0x01;
    decoded.uStatusByte0Bits67 = byte0 >> 6;
    decoded.uStatusByte1 = byte1 & 0x0F;
    decoded.uStatusByte2 = byte2 & 0x0F;
    uint32_t word = (kvpo::wordOf(*status) & ~kDecodedBits) | (kvpo::wordOf(decoded) & kDecodedBits);
    kvpo::storeWord(*status, word);
}

long KVPrtObj::bidiQueryDeviceStatus(PRINTERSTATUS* status) {
    if (status == nullptr) return kvpo::kNullArgument;
    auto [rc, reply] = kvpo::ask(*this, kvbidi::kDeviceStatus);
    if (!reply) return rc;
    if (reply.length < kStatusBytes) return kvpo::kShortReply;
    parseDeviceStatusData(static_cast<unsigned char*>(reply.data), status);
    return BCE_OK;
}

long KVPrtObj::bidiQueryDSAAlert(unsigned short alertId, PRINTERSTATUS* status) {
    if (status == nullptr) return kvpo::kNullArgument;
    auto [rc, alert] = kvpo::readAlert(*this, alertId, kvbidi::kDeviceStatusAlert);
    if (!alert) return rc;
    if (alert.length < kStatusBytes) return kvpo::kShortReply;
    parseDeviceStatusData(static_cast<unsigned char*>(alert.data), status);
    return BCE_OK;
}

// Object-model variable event alert (family 0x5FE) into the OMVAREVENTDATA at
// `event`. -2 for data that do not start 03 40, for an event type other
// than 9 and 12 (byEventType is stored), and for a type-9 alert shorter than
// five bytes or a type-12 alert shorter than four (record untouched); -18,
// record untouched, when the copy of the value cannot be made.
long KVPrtObj::bidiQueryOMVarEventAlert(unsigned short alertId, void* event) {
    auto [rc, alert] = kvpo::readAlert(*this, alertId, kvbidi::kOMVarEventAlert);
    if (!alert) return rc;
    auto r = alert.reader();
    const bool marked = r.mark(kEventMark);
    uint8_t type = r.u8();
    if (!marked || !r.ok()) return kvpo::kNoEcho;

    auto* record = static_cast<OMVAREVENTDATA*>(event);
    if (type == kEventVariableValue) {
        uint8_t id[2];
        if (!r.raw(id, sizeof id)) return kvpo::kShortReply;
        unsigned char* value = kvPrtObjNew(r.remaining());
        if (value == nullptr) return BCE_E_NO_MEMORY;
        r.raw(value, r.remaining());
        record->byEventType = type;
        record->abyVarId[0] = id[0];
        record->abyVarId[1] = id[1];
        record->pbyData = value;
        return BCE_OK;
    }
    if (type == kEventValueByte) {
        uint8_t value = r.u8();
        if (!r.ok()) return kvpo::kShortReply;
        record->byEventType = type;
        record->byValue = value;
        return BCE_OK;
    }
    record->byEventType = type;
    return BCE_E_BAD_REPLY;   // an event type without a decoding
}

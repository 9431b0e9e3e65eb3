// The device-management requests: listing, formatting, deleting and copying,
// each answered by the printer's status byte.
#include <algorithm>

#include "internal.h"

namespace kvprm {
namespace {

// The status byte that starts every reply, and the result it gives.
struct StatusEntry {
    uint8_t status;
    long result;
};

constexpr StatusEntry kStatuses[] = {
    {0, BCE_OK},                // done
    {1, KVPRM_E_NO_DEVICE},     // no such device
    {2, KVPRM_E_NO_FILE},       // no such file
    {3, KVPRM_E_NO_SPACE},      // not enough room on the target
    {4, KVPRM_E_FILE_EXISTS},   // the target holds a file of that name
};

constexpr size_t kMaxNameLength = 255;   // the name's length byte

// The result code of the printer's status byte; -2 for a status it does not define.
long statusResult(uint8_t status) {
    for (const StatusEntry& e : kStatuses)
        if (e.status == status) return e.result;
    return BCE_E_BAD_REPLY;
}

}  // namespace

Request& Request::refuse(long rc) {
    if (m_refusal == BCE_OK) m_refusal = rc;
    return *this;
}

Request& Request::device(KVPrtObj::DEVICEID d) {
    if (d != KVPrtObj::DEVICE_FLASH && d != KVPrtObj::DEVICE_DISK) return refuse(KVPRM_E_NO_DEVICE);
    return u8(static_cast<unsigned>(d));
}

Request& Request::name(const CString& name) {
    if (name.empty() || name.size() > kMaxNameLength ||
        std::any_of(name.begin(), name.end(), [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == ';'; }))
        return refuse(BCE_E_INVALID);
    u8(static_cast<unsigned>(name.size()));
    for (char c : name) u8(static_cast<unsigned char>(c));
    return *this;
}

kvpo::Asked sendRequest(KVPrtObj& printer, unsigned short code, Request& request) {
    if (request.refusal() != BCE_OK) return {request.refusal(), kvpo::Buffer()};
    kvpo::Asked asked = kvpo::ask(printer, code, std::span(request.data(), request.length()));
    if (asked.rc != BCE_OK) return asked;
    auto body = asked.reply.reader();
    uint8_t status = body.u8();
    asked.rc = body.ok() ? statusResult(status) : kvpo::kShortReply;
    return asked;
}

}  // namespace kvprm

using namespace kvprm;

long bidiResMgmtFileListing(KVPrtObj& printer, KVPrtObj::DEVICEID device) {
    return sendRequest(printer, kvbidi::kStorageListFiles, Request().device(device)).rc;
}

long bidiResMgmtFormat(KVPrtObj& printer, KVPrtObj::DEVICEID device) {
    return sendRequest(printer, kvbidi::kStorageFormat, Request().device(device)).rc;
}

long bidiResMgmtDeleteFile(KVPrtObj& printer, const CString& name, KVPrtObj::DEVICEID device) {
    return sendRequest(printer, kvbidi::kStorageDeleteFile, Request().device(device).name(name)).rc;
}

long bidiResMgmtCopyFile(KVPrtObj& printer, const CString& name, KVPrtObj::DEVICEID source,
                         KVPrtObj::DEVICEID target, int bReplace) {
    return sendRequest(printer, kvbidi::kStorageCopyFile,
                       Request().device(source).device(target).u8(bReplace != 0 ? 1 : 0).name(name)).rc;
}

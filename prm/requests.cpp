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

}  // namespace

bool knownDevice(KVPrtObj::DEVICEID device) {
    return device == KVPrtObj::DEVICE_FLASH || device == KVPrtObj::DEVICE_DISK;
}

bool validFileName(const CString& name) {
    return !name.empty() && name.size() <= kMaxNameLength &&
           std::none_of(name.begin(), name.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == ';'; });
}

Request& Request::name(const CString& name) {
    u8(static_cast<unsigned>(name.size()));
    for (char c : name) u8(static_cast<unsigned char>(c));
    return *this;
}

long statusResult(uint8_t status) {
    for (const StatusEntry& e : kStatuses)
        if (e.status == status) return e.result;
    return BCE_E_BAD_REPLY;
}

kvpo::Asked sendRequest(KVPrtObj& printer, unsigned short code, Request& request) {
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
    if (!knownDevice(device)) return KVPRM_E_NO_DEVICE;
    return sendRequest(printer, kvbidi::kStorageListFiles, Request().device(device)).rc;
}

long bidiResMgmtFormat(KVPrtObj& printer, KVPrtObj::DEVICEID device) {
    if (!knownDevice(device)) return KVPRM_E_NO_DEVICE;
    return sendRequest(printer, kvbidi::kStorageFormat, Request().device(device)).rc;
}

long bidiResMgmtDeleteFile(KVPrtObj& printer, const CString& name, KVPrtObj::DEVICEID device) {
    if (!knownDevice(device)) return KVPRM_E_NO_DEVICE;
    if (!validFileName(name)) return BCE_E_INVALID;
    return sendRequest(printer, kvbidi::kStorageDeleteFile, Request().device(device).name(name)).rc;
}

long bidiResMgmtCopyFile(KVPrtObj& printer, const CString& name, KVPrtObj::DEVICEID source,
                         KVPrtObj::DEVICEID target, int bReplace) {
    if (!knownDevice(source) || !knownDevice(target)) return KVPRM_E_NO_DEVICE;
    if (!validFileName(name)) return BCE_E_INVALID;
    return sendRequest(printer, kvbidi::kStorageCopyFile,
                       Request().device(source).device(target).u8(bReplace != 0 ? 1 : 0).name(name)).rc;
}

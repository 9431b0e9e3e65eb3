// The device-management requests: listing, formatting, deleting and copying,
// each answered by the printer's status byte.
#include <algorithm>
#include "kvprtobj/bidicodes.h"

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

long sendRequest(KVPrtObj& printer, unsigned short code, Request& request, kvpo::Buffer& reply,
                 kvpo::ReplyReader& body) {
    kvpo::Asked asked = kvpo::ask(printer, code, std::span(request.data(), request.length()));
    reply = std::move(asked.reply);
    if (asked.rc != BCE_OK) return asked.rc;
    body = reply.reader();
    uint8_t status = body.u8();
    return body.ok() ? statusResult(status) : kvpo::kShortReply;
}

}  // namespace kvprm

using namespace kvprm;

namespace {

long sendStatusRequest(KVPrtObj& printer, unsigned short code, Request& request) {
    kvpo::Buffer reply;
    kvpo::ReplyReader body;
    return sendRequest(printer, code, request, reply, body);
}

}  // namespace

long bidiResMgmtFileListing(KVPrtObj& printer, KVPrtObj::DEVICEID device) {
    if (!knownDevice(device)) return KVPRM_E_NO_DEVICE;
    Request request;
    return sendStatusRequest(printer, kvbidi::kStorageListFiles, request.device(device));
}

long bidiResMgmtFormat(KVPrtObj& printer, KVPrtObj::DEVICEID device) {
    if (!knownDevice(device)) return KVPRM_E_NO_DEVICE;
    Request request;
    return sendStatusRequest(printer, kvbidi::kStorageFormat, request.device(device));
}

long bidiResMgmtDeleteFile(KVPrtObj& printer, const CString& name, KVPrtObj::DEVICEID device) {
    if (!knownDevice(device)) return KVPRM_E_NO_DEVICE;
    if (!validFileName(name)) return BCE_E_INVALID;
    Request request;
    return sendStatusRequest(printer, kvbidi::kStorageDeleteFile, request.device(device).name(name));
}

long bidiResMgmtCopyFile(KVPrtObj& printer, const CString& name, KVPrtObj::DEVICEID source,
                         KVPrtObj::DEVICEID target, int bReplace) {
    if (!knownDevice(source) || !knownDevice(target)) return KVPRM_E_NO_DEVICE;
    if (!validFileName(name)) return BCE_E_INVALID;
    Request request;
    request.device(source).device(target).u8(bReplace != 0 ? 1 : 0).name(name);
    return sendStatusRequest(printer, kvbidi::kStorageCopyFile, request);
}

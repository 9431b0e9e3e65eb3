// Device storage management: listing, formatting, deleting and copying files
// of the storage devices (docs/storage.md). Every reply starts with a status
// byte; a carried-out operation raises a device-management alert.
#include <optional>
#include <string>

#include "machine.h"
#include "storage.h"

namespace kvsim {
namespace {

Reply status(StorageStatus s) { return replyWith(Bytes{s}); }

// The counted file name at `offset`, which must end the request; nothing for
// a malformed request or a name no device can hold.
std::optional<std::string> nameAt(const Request& r, size_t offset) {
    if (r.length <= offset || r.length != offset + 1 + r.data[offset]) return std::nullopt;
    std::string name(reinterpret_cast<const char*>(r.data + offset + 1), r.data[offset]);
    if (!validStorageName(name)) return std::nullopt;
    return name;
}

}  // namespace

// 0xA0: the device. The listing is ready at once: the alert follows the answer.
Reply Machine::listFiles(const Request& r) {
    if (r.length != 1) return invalidRequest();
    StorageStatus s = m_storage.check(r.data[0]);
    if (s == kStorageDone) raise(kFamilyDeviceManagement, storageAlert(kOpListing, r.data[0], 0, ""));
    return status(s);
}

// 0xA4: the device; the answer adds the device and the directory text behind its length.
Reply Machine::readDirectory(const Request& r) {
    if (r.length != 1) return invalidRequest();
    auto text = m_storage.directory(r.data[0]);
    if (!text) return status(kStorageNoDevice);
    Writer w;
    w.u8(kStorageDone).u8(r.data[0]).be16(static_cast<unsigned>(text->size())).raw(text->data(), text->size());
    return replyWith(w);
}

// 0xA1: the device.
Reply Machine::formatDevice(const Request& r) {
    if (r.length != 1) return invalidRequest();
    StorageStatus s = m_storage.format(r.data[0]);
    if (s == kStorageDone) raise(kFamilyDeviceManagement, storageAlert(kOpFormat, r.data[0], 0, ""));
    return status(s);
}

// 0xA2: the device and the counted name.
Reply Machine::deleteFile(const Request& r) {
    auto name = nameAt(r, 1);
    if (!name) return invalidRequest();
    StorageStatus s = m_storage.remove(r.data[0], *name);
    if (s == kStorageDone) raise(kFamilyDeviceManagement, storageAlert(kOpDelete, r.data[0], 0, *name));
    return status(s);
}

// 0xA3: source, target, replace flag (0 or 1) and the counted name. A copy
// onto its own device is malformed.
Reply Machine::copyFile(const Request& r) {
    auto name = nameAt(r, 3);
    if (!name || r.data[0] == r.data[1] || r.data[2] > 1) return invalidRequest();
    StorageStatus s = m_storage.copy(r.data[0], r.data[1], r.data[2] == 1, *name);
    if (s == kStorageDone) raise(kFamilyDeviceManagement, storageAlert(kOpCopy, r.data[1], r.data[0], *name));
    return status(s);
}

}  // namespace kvsim

// The simulated printer's storage devices (profile key storageDevices): a
// small file store per device, with the file operations of the
// device-management requests 0xA0-0xA4 (docs/storage.md).
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace kvsim {

using Bytes = std::vector<uint8_t>;
class Node;

// Device numbers on the wire.
constexpr uint8_t kDeviceFlash = 1;
constexpr uint8_t kDeviceDisk = 2;

// The alert family of device-management alerts.
constexpr uint16_t kFamilyDeviceManagement = 0x601;

// A device holds at most this many files, so that its directory text always
// fits one reply.
constexpr size_t kMaxFilesPerDevice = 200;

struct StoredFile {
    std::string name;   // ISO 8859-1, 1 to 255 characters of at least 0x20, no ";"
    uint32_t size = 0;
};

struct StorageDevice {
    uint8_t id = 0;   // kDeviceFlash or kDeviceDisk
    uint32_t capacity = 0;
    std::vector<StoredFile> files;

    uint32_t used() const;
    uint32_t freeSpace() const { return capacity - used(); }
};

// Status bytes of the replies.
enum StorageStatus : uint8_t {
    kStorageDone = 0,
    kStorageNoDevice = 1,
    kStorageNoFile = 2,
    kStorageNoSpace = 3,
    kStorageFileExists = 4,
};

// Operations of the device-management alerts.
enum StorageOperation : uint8_t { kOpListing = 1, kOpFormat = 2, kOpDelete = 3, kOpCopy = 4 };

// True for a name a device can hold.
bool validStorageName(const std::string& name);

// The file operations on a list of devices that its owner keeps (the
// printer's state), so that the state shows every change.
class FileStore {
public:
    explicit FileStore(std::vector<StorageDevice>& devices) : m_devices(devices) {}

    StorageStatus check(uint8_t device) const;
    StorageStatus format(uint8_t device);
    StorageStatus remove(uint8_t device, const std::string& name);
    // The caller refuses a copy onto the source device itself.
    StorageStatus copy(uint8_t source, uint8_t target, bool replace, const std::string& name);
    // "DEVICE: 1;CAPACITY: n;FREE: n;FILE: size name;..." of a device it has.
    std::optional<std::string> directory(uint8_t device) const;
    // A file of `size` bytes, replacing one of its name (PJL downloads):
    // kStorageNoSpace without the room or a free file slot.
    StorageStatus store(uint8_t device, const std::string& name, uint32_t size);
    const StorageDevice* find(uint8_t device) const;

private:
    StorageDevice* find(uint8_t device);

    std::vector<StorageDevice>& m_devices;
};

// The alert data: 03 A0, the operation, the device, the source device (copies;
// 0 otherwise) and the counted file name.
Bytes storageAlert(StorageOperation operation, uint8_t device, uint8_t source, const std::string& name);

// Loads the profile's storageDevices array.
void loadStorageDevices(const Node& node, std::vector<StorageDevice>& devices);

}  // namespace kvsim

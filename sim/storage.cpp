// The file store of the simulated printer's storage devices and its profile section.
#include "storage.h"

#include <algorithm>
#include <iterator>
#include <numeric>

#include "json_node.h"
#include "wire/frame.h"

namespace kvsim {
namespace {

struct DeviceName {
    const char* name;
    uint8_t id;
};

constexpr DeviceName kDeviceNames[] = {{"flash", kDeviceFlash}, {"disk", kDeviceDisk}};

auto byName(const std::string& name) {
    return [&name](const StoredFile& f) { return f.name == name; };
}

}  // namespace

uint32_t StorageDevice::used() const {
    return std::accumulate(files.begin(), files.end(), uint32_t{0},
                           [](uint32_t sum, const StoredFile& f) { return sum + f.size; });
}

bool validStorageName(const std::string& name) {
    return !name.empty() && name.size() <= 255 &&
           std::none_of(name.begin(), name.end(),
                        [](char c) { return static_cast<unsigned char>(c) < 0x20 || c == ';'; });
}

StorageDevice* FileStore::find(uint8_t device) {
    auto it = std::find_if(m_devices.begin(), m_devices.end(), [&](const StorageDevice& d) { return d.id == device; });
    return it == m_devices.end() ? nullptr : &*it;
}

const StorageDevice* FileStore::find(uint8_t device) const { return const_cast<FileStore*>(this)->find(device); }

StorageStatus FileStore::check(uint8_t device) const { return find(device) ? kStorageDone : kStorageNoDevice; }

StorageStatus FileStore::format(uint8_t device) {
    StorageDevice* d = find(device);
    if (!d) return kStorageNoDevice;
    d->files.clear();
    return kStorageDone;
}

StorageStatus FileStore::remove(uint8_t device, const std::string& name) {
    StorageDevice* d = find(device);
    if (!d) return kStorageNoDevice;
    auto it = std::find_if(d->files.begin(), d->files.end(), byName(name));
    if (it == d->files.end()) return kStorageNoFile;
    d->files.erase(it);
    return kStorageDone;
}

StorageStatus FileStore::copy(uint8_t source, uint8_t target, bool replace, const std::string& name) {
    StorageDevice* from = find(source);
    StorageDevice* to = find(target);
    if (!from || !to) return kStorageNoDevice;
    auto file = std::find_if(from->files.begin(), from->files.end(), byName(name));
    if (file == from->files.end()) return kStorageNoFile;
    auto existing = std::find_if(to->files.begin(), to->files.end(), byName(name));
    if (existing != to->files.end() && !replace) return kStorageFileExists;
    uint32_t room = to->freeSpace() + (existing != to->files.end() ? existing->size : 0);
    if (file->size > room) return kStorageNoSpace;
    if (existing != to->files.end()) {
        existing->size = file->size;
    } else {
        if (to->files.size() >= kMaxFilesPerDevice) return kStorageNoSpace;
        to->files.push_back(*file);
    }
    return kStorageDone;
}

StorageStatus FileStore::store(uint8_t device, const std::string& name, uint32_t size) {
    StorageDevice* d = find(device);
    if (!d) return kStorageNoDevice;
    auto existing = std::find_if(d->files.begin(), d->files.end(), byName(name));
    uint32_t room = d->freeSpace() + (existing != d->files.end() ? existing->size : 0);
    if (size > room || (existing == d->files.end() && d->files.size() >= kMaxFilesPerDevice)) return kStorageNoSpace;
    if (existing != d->files.end())
        existing->size = size;
    else
        d->files.push_back({name, size});
    return kStorageDone;
}

std::optional<std::string> FileStore::directory(uint8_t device) const {
    const StorageDevice* d = find(device);
    if (!d) return std::nullopt;
    std::string text = "DEVICE: " + std::to_string(d->id) + ";CAPACITY: " + std::to_string(d->capacity) +
                       ";FREE: " + std::to_string(d->freeSpace()) + ";";
    for (const StoredFile& f : d->files) text += "FILE: " + std::to_string(f.size) + " " + f.name + ";";
    return text;
}

Bytes storageAlert(StorageOperation operation, uint8_t device, uint8_t source, const std::string& name) {
    kvwire::Writer w;
    w.u8(0x03).u8(0xA0).u8(operation).u8(device).u8(source);
    w.u8(static_cast<unsigned>(name.size())).raw(name.data(), name.size());
    return w.take();
}

void loadStorageDevices(const Node& node, std::vector<StorageDevice>& devices) {
    for (const Node& e : node.items(std::size(kDeviceNames))) {
        e.expectObject({"device", "capacity", "files"});
        StorageDevice device;
        std::string name = e.at("device").latin1();
        for (const DeviceName& known : kDeviceNames)
            if (name == known.name) device.id = known.id;
        if (device.id == 0) e.at("device").fail("expected \"flash\" or \"disk\"");
        if (std::any_of(devices.begin(), devices.end(), [&](const StorageDevice& d) { return d.id == device.id; }))
            e.at("device").fail("this device is given twice");
        device.capacity = e.at("capacity").number(0xFFFFFFFF);
        uint64_t used = 0;
        if (auto files = e.find("files"))
            for (const Node& f : files->items(kMaxFilesPerDevice)) {
                f.expectObject({"name", "size", "content"});
                StoredFile file;
                file.name = f.at("name").latin1(255);
                if (!validStorageName(file.name)) f.at("name").fail("expected 1 to 255 characters without \";\"");
                if (std::any_of(device.files.begin(), device.files.end(), byName(file.name)))
                    f.at("name").fail("a file of this name is given twice");
                if (f.has("size") == f.has("content")) f.fail("expected either size or content");
                if (auto size = f.find("size")) file.size = size->number(0xFFFFFFFF);
                if (auto content = f.find("content")) file.size = static_cast<uint32_t>(content->bytes(65535).size());
                used += file.size;
                device.files.push_back(std::move(file));
            }
        if (used > device.capacity) e.at("capacity").fail("smaller than the files it holds");
        devices.push_back(std::move(device));
    }
}

}  // namespace kvsim

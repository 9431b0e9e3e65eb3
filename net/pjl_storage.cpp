// Device storage (requests 0xA0-0xA4, docs/storage.md) through the PJL file
// system on the print port: device 1 (flash) is volume "0:", device 2 (disk)
// volume "1:", and the file "fonts/a.ttf" is "0:\fonts\a.ttf". Capacity and
// free space come from INFO FILESYS, listings from FSDIRLIST walked down the
// directories, a copy is FSUPLOAD then FSDOWNLOAD, a deletion FSDELETE and a
// format FSINIT (only with allow=format). Each carried-out request raises the
// device-management alert 0x601 the simulator raises; what changes the
// printer's files is logged on standard error. The storage options (0x14)
// come from INFO FILESYS when SNMP does not give them.
#include <algorithm>
#include <cstdio>

#include "core.h"
#include "encoders.h"
#include "kvprtobj/bidicodes.h"

namespace kvnet {
namespace {

using kvsim::Bytes;

constexpr size_t kMaxDirectories = 64;           // directories one listing walks
constexpr unsigned kMaxDepth = 8;                // levels below the volume's root
constexpr uint32_t kEntriesPerList = 256;        // asked by one FSDIRLIST: a reply within the codec's bound
constexpr size_t kMaxDirectoryText = 0xFFFF;     // the reply's 16-bit length
constexpr size_t kMaxCopy = pjl::kMaxDownload;   // one FSDOWNLOAD carries the whole file
constexpr size_t kUploadsPerExchange = 4;        // FSUPLOAD chunks asked in one block
constexpr char kSeparator = '\\';                // of PJL paths; the device's names use '/'

// "0:" for the flash, "1:" for the disk; empty for any other device.
std::string volumeOf(uint8_t device) {
    return device == kvsim::kDeviceFlash ? "0:" : device == kvsim::kDeviceDisk ? "1:" : "";
}

// The PJL path of a device's file; empty for a name PJL cannot carry (an
// empty part, a backslash, a quote, a byte beyond ASCII). One trailing '/'
// names a directory.
std::string pathOf(const std::string& volume, const std::string& name) {
    if (!kvsim::validStorageName(name) || name.find(kSeparator) != std::string::npos) return "";
    std::string path = volume;
    const std::string_view parts = std::string_view(name).substr(0, name.size() - (name.back() == '/'));
    for (size_t start = 0; start <= parts.size();) {
        size_t end = std::min(parts.find('/', start), parts.size());
        if (end == start) return "";
        path.append(1, kSeparator).append(parts.substr(start, end - start));
        start = end + 1;
    }
    return pjl::validPath(path) ? path : "";
}

Bytes statusOnly(kvsim::StorageStatus s) { return Bytes{s}; }

}  // namespace

bool NetPrinter::Core::pjlStorage(unsigned short code) const {
    return wants(kPjl) && (code == kvbidi::kStorageOptions ||
                           (code >= kvbidi::kStorageListFiles && code <= kvbidi::kStorageReadDirectory));
}

// What a failed exchange answers: -3 while another protocol answers (the
// print port alone is missing), else its own code.
long NetPrinter::Core::pjlFailure(const Outcome& o, long rc) const {
    const bool channel = rc == BCE_E_TIMEOUT || rc == BCE_E_CHANNEL_DOWN || rc == BCE_E_CONNECTION_RESET;
    return channel && o.snmpOrIpp() ? BCE_E_INVALID : rc;
}

void NetPrinter::Core::logPjlChange(const std::string& what) const {
    std::fprintf(stderr, "kvprtnet: %s: %s\n", shownUri.c_str(), what.c_str());
}

long NetPrinter::Core::answerPjlStorage(const Outcome& o, unsigned short code, const uint8_t* data,
                                        unsigned long length, void* reply, unsigned long* replyLength) {
    Bytes body;
    long rc = BCE_E_INVALID;
    auto named = [&](size_t offset, std::string* name) {   // the counted name that ends the request
        if (length <= offset || length != offset + 1u + data[offset]) return false;
        name->assign(reinterpret_cast<const char*>(data + offset + 1), data[offset]);
        return kvsim::validStorageName(*name);
    };
    std::string name;
    switch (code) {
    case kvbidi::kStorageOptions: {
        if (length != 0) return BCE_E_INVALID;
        rc = pjlStorageOptions(&body);
        break;
    }
    case kvbidi::kStorageListFiles:
    case kvbidi::kStorageFormat:
    case kvbidi::kStorageReadDirectory:
        if (length != 1) return BCE_E_INVALID;
        if (code == kvbidi::kStorageFormat && !(options.allowed & kAllowFormat)) return BCE_E_INVALID;
        rc = code == kvbidi::kStorageListFiles ? pjlListing(data[0], &body)
             : code == kvbidi::kStorageFormat  ? pjlFormat(data[0], &body)
                                               : pjlDirectory(data[0], &body);
        break;
    case kvbidi::kStorageDeleteFile:
        if (!named(1, &name)) return BCE_E_INVALID;
        rc = pjlDelete(data[0], name, &body);
        break;
    case kvbidi::kStorageCopyFile:
        if (!named(3, &name) || data[0] == data[1] || data[2] > 1) return BCE_E_INVALID;
        rc = pjlCopy(data[0], data[1], data[2] == 1, name, &body);
        break;
    default: return BCE_E_INVALID;
    }
    return rc == BCE_OK ? kvsim::deliverReply(code, {BCE_OK, body}, reply, replyLength) : pjlFailure(o, rc);
}

// The volume's sizes from INFO FILESYS; kStorageNoDevice in *status when the
// printer lists no such volume.
long NetPrinter::Core::pjlVolume(uint8_t device, pjl::Volume* volume, kvsim::StorageStatus* status) {
    std::string reply;
    if (long rc = pjlInfo("FILESYS", &reply); rc != BCE_OK) return rc;
    auto volumes = pjl::parseFilesys(reply);
    if (!volumes) return BCE_E_BAD_REPLY;
    const std::string wanted = volumeOf(device);
    auto it = std::find_if(volumes->begin(), volumes->end(), [&](const pjl::Volume& v) { return v.volume == wanted; });
    *status = wanted.empty() || it == volumes->end() ? kvsim::kStorageNoDevice : kvsim::kStorageDone;
    if (it != volumes->end()) *volume = *it;
    return BCE_OK;
}

// 0x14: the flash and the disk volumes of INFO FILESYS, in kilobytes; the
// other volumes (a RAM disk) are no storage option of the library.
long NetPrinter::Core::pjlStorageOptions(Bytes* body) {
    std::string reply;
    if (long rc = pjlInfo("FILESYS", &reply); rc != BCE_OK) return rc;
    auto volumes = pjl::parseFilesys(reply);
    if (!volumes) return BCE_E_BAD_REPLY;
    Snapshot listed;
    for (uint8_t device : {kvsim::kDeviceFlash, kvsim::kDeviceDisk})
        for (const pjl::Volume& v : *volumes)
            if (v.volume == volumeOf(device))
                listed.addStorageOption(device == kvsim::kDeviceFlash, static_cast<int64_t>(v.total / 1024),
                                         static_cast<int64_t>(v.free / 1024));
    auto answer = kvsim::encodeRead(listed.profile, {kvbidi::kStorageOptions, nullptr, 0});
    if (!answer || answer->rc != BCE_OK) return BCE_E_INVALID;
    *body = std::move(answer->body);
    return BCE_OK;
}

// 0xA0: the device is there; the listing is read with 0xA4 once its alert came.
long NetPrinter::Core::pjlListing(uint8_t device, Bytes* body) {
    pjl::Volume volume;
    kvsim::StorageStatus status;
    if (long rc = pjlVolume(device, &volume, &status); rc != BCE_OK) return rc;
    if (status == kvsim::kStorageDone)
        raise({{kvsim::kFamilyDeviceManagement, kvsim::storageAlert(kvsim::kOpListing, device, 0, "")}});
    *body = statusOnly(status);
    return BCE_OK;
}

// 0xA4: the directory text, the device's files depth first in the
// printer's order; an empty directory as "name/" of size 0, as the
// simulator keeps it. Files whose names the text cannot carry are left out.
long NetPrinter::Core::pjlDirectory(uint8_t device, Bytes* body) {
    pjl::Volume volume;
    kvsim::StorageStatus status;
    if (long rc = pjlVolume(device, &volume, &status); rc != BCE_OK) return rc;
    if (status != kvsim::kStorageDone) return *body = statusOnly(status), BCE_OK;
    std::string files;
    size_t listed = 0, directories = 0;
    // One directory (store-form prefix "", "fonts/", ...), its entries in pages.
    std::function<long(const std::string&, unsigned)> walk = [&](const std::string& prefix, unsigned depth) -> long {
        if (++directories > kMaxDirectories || depth > kMaxDepth) return BCE_E_BAD_REPLY;
        const std::string path = prefix.empty() ? volume.volume : pathOf(volume.volume, prefix);
        if (path.empty()) return BCE_OK;   // a directory whose name PJL cannot carry
        std::vector<pjl::FileEntry> entries;
        for (uint32_t first = 1;; first += kEntriesPerList) {
            pjl::Request request;
            if (!request.fsDirList(path, first, kEntriesPerList)) return BCE_E_INVALID;
            pjl::FsAnswer answer;
            if (long rc = pjlDirList(request, &answer); rc != BCE_OK) return rc;
            if (answer.entries.size() > kEntriesPerList) return BCE_E_BAD_REPLY;
            entries.insert(entries.end(), answer.entries.begin(), answer.entries.end());
            if (answer.entries.size() < kEntriesPerList) break;
            if (entries.size() > kvsim::kMaxFilesPerDevice + 2u * kMaxDirectories) return BCE_E_BAD_REPLY;
        }
        bool empty = true;
        for (const pjl::FileEntry& e : entries) {
            if (e.name == "." || e.name == "..") continue;
            empty = false;
            const std::string name = prefix + e.name;
            if (e.name.find_first_of("/\\") != std::string::npos || !kvsim::validStorageName(name)) continue;
            if (e.directory) {
                if (long rc = walk(name + "/", depth + 1); rc != BCE_OK) return rc;
                continue;
            }
            if (++listed > kvsim::kMaxFilesPerDevice) return BCE_E_BAD_REPLY;
            files += "FILE: " + std::to_string(e.size) + " " + name + ";";
        }
        if (empty && !prefix.empty() && ++listed <= kvsim::kMaxFilesPerDevice) files += "FILE: 0 " + prefix + ";";
        return BCE_OK;
    };
    if (long rc = walk("", 0); rc != BCE_OK) return rc;
    const std::string text = "DEVICE: " + std::to_string(device) + ";CAPACITY: " + std::to_string(volume.total) +
                             ";FREE: " + std::to_string(volume.free) + ";" + files;
    if (text.size() > kMaxDirectoryText) return BCE_E_BAD_REPLY;
    kvsim::Writer w;
    w.u8(kvsim::kStorageDone).u8(device).text(text);
    *body = w.take();
    return BCE_OK;
}

// 0xA1, with allow=format: FSINIT, then the root listed again: done when it
// holds nothing but "." and "..".
long NetPrinter::Core::pjlFormat(uint8_t device, Bytes* body) {
    pjl::Volume volume;
    kvsim::StorageStatus status;
    if (long rc = pjlVolume(device, &volume, &status); rc != BCE_OK) return rc;
    if (status != kvsim::kStorageDone) return *body = statusOnly(status), BCE_OK;
    pjl::Request request;
    if (!request.fsInit(volume.volume) || !request.fsDirList(volume.volume, 1, 3)) return BCE_E_INVALID;
    logPjlChange("FSINIT VOLUME=\"" + volume.volume + "\" (format of device " + std::to_string(device) + ")");
    pjl::FsAnswer answer;
    if (long rc = pjlDirList(request, &answer); rc != BCE_OK) return rc;
    if (answer.entries.size() > 2) return BCE_E_INVALID;   // the printer did not format it
    raise({{kvsim::kFamilyDeviceManagement, kvsim::storageAlert(kvsim::kOpFormat, device, 0, "")}});
    *body = statusOnly(kvsim::kStorageDone);
    return BCE_OK;
}

// The listing of the one reply `request` (ending in FSDIRLIST) gets; -3 for
// a reply that is no listing or names a file error.
long NetPrinter::Core::pjlDirList(const pjl::Request& request, pjl::FsAnswer* answer) {
    std::vector<std::string> replies;
    if (long rc = pjlExchange(request, 1, &replies); rc != BCE_OK) return rc;
    auto listed = pjl::parseDirList(replies[0]);
    if (!listed || listed->fileError) return BCE_E_BAD_REPLY;
    *answer = std::move(*listed);
    return BCE_OK;
}

// What FSQUERY says of a path: its entry, or the status of a missing volume
// or file. A reply naming another error is -3.
long NetPrinter::Core::pjlQuery(const std::string& path, pjl::FileEntry* entry, kvsim::StorageStatus* status) {
    pjl::Request request;
    if (!request.fsQuery(path)) return BCE_E_INVALID;
    std::vector<std::string> replies;
    if (long rc = pjlExchange(request, 1, &replies); rc != BCE_OK) return rc;
    return fsQueried(replies[0], entry, status);
}

long NetPrinter::Core::fsQueried(const std::string& reply, pjl::FileEntry* entry, kvsim::StorageStatus* status) {
    auto answer = pjl::parseFsQuery(reply);
    if (!answer) return BCE_E_BAD_REPLY;
    switch (answer->fileError) {
    case 0: *status = kvsim::kStorageDone; break;
    case pjl::kFileErrorVolume: *status = kvsim::kStorageNoDevice; break;
    case pjl::kFileErrorNotFound: *status = kvsim::kStorageNoFile; break;
    default: return BCE_E_INVALID;   // a name or parameter the printer refuses
    }
    *entry = answer->entry;
    return BCE_OK;
}

// 0xA2: FSDELETE, done when FSQUERY no longer finds the file.
long NetPrinter::Core::pjlDelete(uint8_t device, const std::string& name, Bytes* body) {
    if (volumeOf(device).empty()) return *body = statusOnly(kvsim::kStorageNoDevice), BCE_OK;
    const std::string path = pathOf(volumeOf(device), name);
    if (path.empty()) return BCE_E_INVALID;
    pjl::FileEntry entry;
    kvsim::StorageStatus status;
    if (long rc = pjlQuery(path, &entry, &status); rc != BCE_OK) return rc;
    // "dir/" names an (empty) directory, any other name a file.
    if (status == kvsim::kStorageDone && entry.directory != (name.back() == '/')) status = kvsim::kStorageNoFile;
    if (status != kvsim::kStorageDone) return *body = statusOnly(status), BCE_OK;
    pjl::Request request;
    request.fsDelete(path);
    request.fsQuery(path);
    logPjlChange("FSDELETE NAME=\"" + path + "\"");
    std::vector<std::string> replies;
    if (long rc = pjlExchange(request, 1, &replies); rc != BCE_OK) return rc;
    if (long rc = fsQueried(replies[0], &entry, &status); rc != BCE_OK) return rc;
    if (status != kvsim::kStorageNoFile) return BCE_E_INVALID;   // still there: the printer refused
    raise({{kvsim::kFamilyDeviceManagement, kvsim::storageAlert(kvsim::kOpDelete, device, 0, name)}});
    *body = statusOnly(kvsim::kStorageDone);
    return BCE_OK;
}

// 0xA3: the target's room and the file's size first; the file read with
// FSUPLOAD in chunks (at most 1 MiB in all), written with one FSDOWNLOAD
// (its directories made first) and read back with FSQUERY.
long NetPrinter::Core::pjlCopy(uint8_t source, uint8_t target, bool replace, const std::string& name, Bytes* body) {
    if (volumeOf(source).empty() || volumeOf(target).empty()) return *body = statusOnly(kvsim::kStorageNoDevice), BCE_OK;
    const std::string from = pathOf(volumeOf(source), name), to = pathOf(volumeOf(target), name);
    if (from.empty() || to.empty() || name.back() == '/') return BCE_E_INVALID;
    pjl::Volume volume;
    kvsim::StorageStatus status;
    if (long rc = pjlVolume(target, &volume, &status); rc != BCE_OK) return rc;
    if (status != kvsim::kStorageDone) return *body = statusOnly(status), BCE_OK;
    pjl::FileEntry file, existing;
    if (long rc = pjlQuery(from, &file, &status); rc != BCE_OK) return rc;
    if (status == kvsim::kStorageDone && file.directory) status = kvsim::kStorageNoFile;
    if (status != kvsim::kStorageDone) return *body = statusOnly(status), BCE_OK;
    kvsim::StorageStatus there;
    if (long rc = pjlQuery(to, &existing, &there); rc != BCE_OK) return rc;
    if (there == kvsim::kStorageDone && (existing.directory || !replace))
        return *body = statusOnly(kvsim::kStorageFileExists), BCE_OK;
    const uint64_t room = volume.free + (there == kvsim::kStorageDone ? existing.size : 0);
    if (file.size > room) return *body = statusOnly(kvsim::kStorageNoSpace), BCE_OK;
    if (file.size > kMaxCopy) return BCE_E_INVALID;   // beyond what the backend carries

    std::string content;
    while (content.size() < file.size) {
        pjl::Request request;
        size_t asked = 0;
        for (uint64_t at = content.size(); at < file.size && asked < kUploadsPerExchange; at += pjl::kMaxUpload, ++asked)
            request.fsUpload(from, static_cast<uint32_t>(at),
                             static_cast<uint32_t>(std::min<uint64_t>(pjl::kMaxUpload, file.size - at)));
        std::vector<std::string> replies;
        if (long rc = pjlExchange(request, asked, &replies); rc != BCE_OK) return rc;
        for (const std::string& r : replies) {
            auto chunk = pjl::parseUpload(r);
            const uint64_t expected = std::min<uint64_t>(pjl::kMaxUpload, file.size - content.size());
            if (!chunk || chunk->fileError || chunk->offset != content.size() || chunk->data.size() != expected)
                return BCE_E_BAD_REPLY;
            content += chunk->data;
        }
    }

    pjl::Request request;
    for (size_t slash = name.find('/'); slash != std::string::npos; slash = name.find('/', slash + 1))
        request.fsMkdir(pathOf(volumeOf(target), name.substr(0, slash)));
    request.fsDownload(to, content);
    request.fsQuery(to);
    logPjlChange("FSDOWNLOAD NAME=\"" + to + "\" SIZE=" + std::to_string(content.size()) + " (copy of \"" + from +
                 "\"" + (there == kvsim::kStorageDone ? ", replacing the file there)" : ")"));
    std::vector<std::string> replies;
    if (long rc = pjlExchange(request, 1, &replies); rc != BCE_OK) return rc;
    if (long rc = fsQueried(replies[0], &existing, &there); rc != BCE_OK) return rc;
    if (there != kvsim::kStorageDone || existing.directory || existing.size != file.size)
        return *body = statusOnly(kvsim::kStorageNoSpace), BCE_OK;   // the printer did not keep it
    raise({{kvsim::kFamilyDeviceManagement, kvsim::storageAlert(kvsim::kOpCopy, target, source, name)}});
    *body = statusOnly(kvsim::kStorageDone);
    return BCE_OK;
}

}  // namespace kvnet

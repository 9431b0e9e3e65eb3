// PJL on the simulated printer (docs/simulator.md, "PJL"): the status
// readback, the environment variables by their PJL names (pjl_variables.h)
// and the current font's (pjl_font.h),
// and the file system over the storage devices: volume 0: is the flash, 1:
// the disk, and "0:\fonts\a.ttf" is the flash's file "fonts/a.ttf". The
// store is flat: a directory is there while a file name lies below it, and
// FSMKDIR holds an empty one as a file of size 0 named "dir/" (until a file
// is stored below it). FSINIT formats a volume.
#include <algorithm>
#include <cctype>
#include <utility>

#include "alert_data.h"
#include "machine.h"
#include "pjl_font.h"
#include "pjl_variables.h"

namespace kvsim {
namespace {

namespace pjl = kvnet::pjl;

constexpr uint8_t kLifeCountType = 1;   // page-count type of the printer's life count
constexpr char kSeparator = '\\';       // of PJL paths; the store's is '/'

std::string reply(const std::string& head, const std::string& body = "") {
    return std::string(pjl::kPrefix) + " " + head + "\r\n" + body + pjl::kFormFeed;
}

std::string unknown(const std::string& head) { return reply(head, "\"?\"\r\n"); }

// Printer text for a reply line: up to its first NUL, with what a line
// cannot carry (control characters, quotes) as "?".
std::string lineText(std::string_view s) {
    std::string out(s.substr(0, s.find('\0')));
    for (char& c : out)
        if (static_cast<unsigned char>(c) < 0x20 || c == 0x7F || c == '"') c = '?';
    return out;
}

std::string listed(const std::string& name, const std::vector<std::string>& items) {
    std::string s = name + " [" + std::to_string(items.size()) + " ENUMERATED]\r\n";
    for (const std::string& item : items) s.append("\t").append(lineText(item)).append("\r\n");
    return s;
}

// "LPARM:PCL SYMSET" of "DEFAULT LPARM:PCL SYMSET=...", "INQUIRE LPARM:PCL SYMSET".
std::string variableName(const pjl::Command& c, bool withOption) {
    std::string name;
    for (const std::string& w : c.words) name += (name.empty() ? "" : " ") + w;
    if (withOption && c.options.size() == 1) name += (name.empty() ? "" : " ") + c.options[0].first;
    return name;
}

struct Path {
    uint8_t device = 0;
    std::string name;   // in the store's form; empty for the volume's root
};

// 0, or the FILEERROR of a path no device holds.
unsigned toPath(const std::string* text, Path* path) {
    if (!text || !pjl::validPath(*text)) return pjl::kFileErrorName;
    if ((*text)[0] != '0' && (*text)[0] != '1') return pjl::kFileErrorVolume;
    path->device = (*text)[0] == '0' ? kDeviceFlash : kDeviceDisk;
    std::string_view rest = std::string_view(*text).substr(2);
    for (size_t start = 0; start <= rest.size();) {
        size_t end = std::min(rest.find(kSeparator, start), rest.size());
        std::string_view part = rest.substr(start, end - start);
        if (part.find('/') != std::string_view::npos) return pjl::kFileErrorName;
        if (!part.empty()) path->name.append(path->name.empty() ? "" : "/").append(part);
        start = end + 1;
    }
    return path->name.empty() || validStorageName(path->name) ? 0 : pjl::kFileErrorName;
}

const StoredFile* fileAt(const StorageDevice& d, const std::string& name) {
    auto it = std::find_if(d.files.begin(), d.files.end(), [&](const StoredFile& f) { return f.name == name; });
    return it == d.files.end() || name.empty() ? nullptr : &*it;
}

bool isDirectory(const StorageDevice& d, const std::string& name) {
    const std::string prefix = name + "/";
    return name.empty() || std::any_of(d.files.begin(), d.files.end(),
                                       [&](const StoredFile& f) { return f.name.compare(0, prefix.size(), prefix) == 0; });
}

// The entries of a directory: ".", "..", its files and the directories below it.
std::vector<pjl::FileEntry> entriesOf(const StorageDevice& d, const std::string& name) {
    std::vector<pjl::FileEntry> entries = {{".", true, 0}, {"..", true, 0}};
    const std::string prefix = name.empty() ? "" : name + "/";
    for (const StoredFile& f : d.files) {
        if (f.name.compare(0, prefix.size(), prefix) != 0) continue;
        std::string rest = f.name.substr(prefix.size());
        size_t slash = rest.find('/');
        pjl::FileEntry e{rest.substr(0, slash), slash != std::string::npos, f.size};
        if (e.name.empty()) continue;   // the directory's own entry
        bool seen = e.directory && std::any_of(entries.begin(), entries.end(),
                                               [&](const pjl::FileEntry& x) { return x.directory && x.name == e.name; });
        if (!seen) entries.push_back(e);
    }
    return entries;
}

std::string fileError(const std::string& head, unsigned error) {
    return reply(head, "FILEERROR=" + std::to_string(error) + "\r\n");
}

// The letters A to Z over and over: the data of a stored file, whose bytes
// the simulator does not keep.
std::string fileData(uint64_t offset, uint64_t size) {
    std::string data(size, 'A');
    for (uint64_t i = 0; i < size; ++i) data[i] = static_cast<char>('A' + (offset + i) % 26);
    return data;
}

}  // namespace

std::string Machine::answerPjl(const pjl::Command& c, std::string_view data, PjlJob& job) {
    if (c.verb == "INFO" && c.words.size() == 1 && c.options.empty()) return pjlInfo(c.words[0]);
    if (c.verb == "INQUIRE") return pjlInquire(c, &job);
    if (c.verb == "DINQUIRE") return pjlInquire(c, nullptr);
    if (c.verb == "DEFAULT") pjlAssign(c, nullptr);
    if (c.verb == "SET") pjlAssign(c, &job);
    if (c.verb == "ECHO") return reply(c.rest.empty() ? "ECHO" : "ECHO " + c.rest);
    if (c.verb == "INITIALIZE" && c.words.empty() && c.options.empty()) restoreVariables();   // as request 0x6D
    if (c.verb.compare(0, 2, "FS") == 0) return pjlFileSystem(c, data);
    return {};
}

pjl::DeviceStatus Machine::pjlStatus() const {
    const size_t width = static_cast<size_t>(std::max(m_state.panel.width, 0));
    std::string line = panelDisplay(m_state).substr(0, width);
    line.erase(line.find_last_not_of(' ') + 1);
    return pjl::deviceStatusOf(m_state.deviceStatus, lineText(line));
}

std::string Machine::pjlInfo(const std::string& category) const {
    std::string upper = category;
    for (char& ch : upper) ch = static_cast<char>(std::toupper(static_cast<unsigned char>(ch)));
    const std::string head = "INFO " + upper;
    if (upper == "ID") return reply(head, std::string("\"").append(lineText(m_state.info.szModelName)).append("\"\r\n"));
    if (upper == "CONFIG") {
        std::vector<std::string> in, out, languages;
        for (const InputBin& b : m_state.inputBins) in.push_back("INTRAY" + std::to_string(b.number));
        for (const OutputBin& b : m_state.outputBins) out.push_back(b.name.empty() ? "OUTBIN" + std::to_string(b.number) : b.name);
        for (const Interpreter& i : m_state.interpreters) languages.push_back(i.name);
        return reply(head, listed("IN TRAYS", in) + listed("OUT TRAYS", out) + listed("LANGUAGES", languages) +
                               "MEMORY=" + std::to_string(m_state.deviceChars.memoryBytes) + "\r\nDISPLAY LINES=" +
                               std::to_string(m_state.panel.height) + "\r\nDISPLAY CHARACTER SIZE=" +
                               std::to_string(m_state.panel.width) + "\r\n");
    }
    if (upper == "VARIABLES") {
        std::string body;
        for (const Variable& v : m_state.variables) {
            const PjlVariable* p = pjlVariable(v.id);
            auto text = p ? pjlText(*p, v.value) : std::nullopt;
            if (text) body += std::string(p->name) + "=" + *text + " " + pjlOptions(*p, v.value.size(), v.readOnly);
        }
        return reply(head, body);
    }
    if (upper == "STATUS") {   // the lines of the unsolicited message, under this head
        std::string m = pjl::deviceStatusMessage(pjlStatus());
        const size_t body = m.find('\n') + 1;
        return reply(head, m.substr(body, m.size() - body - 1));
    }
    if (upper == "PAGECOUNT") {
        for (const PageCount& p : m_state.pageCounts)
            if (p.type == kLifeCountType) return reply(head, std::to_string(p.count) + "\r\n");
        return unknown(head);
    }
    if (upper == "FILESYS") {
        const auto& devices = m_state.storageDevices;
        if (devices.empty()) return unknown(head);
        std::string body = "\tVOLUME\tTOTAL SIZE\tFREE SPACE\tLOCATION\tLABEL\tSTATUS\r\n";
        for (const StorageDevice& d : devices)
            body += std::string("\t") + (d.id == kDeviceFlash ? "0:" : "1:") + "\t" + std::to_string(d.capacity) + "\t" +
                    std::to_string(d.freeSpace()) + "\t" + (d.id == kDeviceFlash ? "FLASH" : "DISK") + "\t\tREAD-WRITE\r\n";
        return reply(head + " [" + std::to_string(devices.size() + 1) + " TABLE]", body);
    }
    return unknown(head);
}

std::string Machine::pjlInquire(const pjl::Command& c, const PjlJob* job) const {
    const std::string name = variableName(c, false);
    const std::string head = c.verb + " " + name;
    const PjlVariable* p = c.options.empty() ? pjlVariable(name) : nullptr;
    const Bytes* value = p ? findVariable(m_state, p->id) : nullptr;
    const PjlFontVariable* font = c.options.empty() && !value ? pjlFontVariable(name) : nullptr;
    if (font) {
        auto text = pjlFontText(font->field, m_state.currentFont);
        return text ? reply(head, *text + "\r\n") : unknown(head);
    }
    if (!value) return unknown(head);
    if (job)
        if (auto it = job->set.find(p->name); it != job->set.end()) return reply(head, it->second + "\r\n");
    auto text = pjlText(*p, *value);
    return text ? reply(head, *text + "\r\n") : unknown(head);
}

// DEFAULT (job null) changes the variable as request 0x4F does, or the
// current font's field as request 0x97 does (SYMSET: both, as a printer has
// one symbol set); SET only the job's value. A name the printer lacks, a
// read-only variable or a value the variable cannot take is ignored, as PJL
// ignores them.
void Machine::pjlAssign(const pjl::Command& c, PjlJob* job) {
    if (const PjlFontVariable* font = c.options.size() == 1 && !job ? pjlFontVariable(variableName(c, true)) : nullptr)
        setPjlFontField(font->field, c.options[0].second, &m_state.currentFont);
    const PjlVariable* p = c.options.size() == 1 ? pjlVariable(variableName(c, true)) : nullptr;
    auto it = p ? std::find_if(m_state.variables.begin(), m_state.variables.end(),
                               [&](const Variable& v) { return v.id == p->id; })
                : m_state.variables.end();
    if (it == m_state.variables.end() || it->readOnly) return;
    auto value = pjlValue(*p, c.options[0].second, it->value.size());
    if (!value) return;
    if (job) {
        job->set[p->name] = *pjlText(*p, *value);
        return;
    }
    raise(kFamilyVariableEvent, variableEventAlert(p->id, *value));
    storeVariable(p->id, std::move(*value));
}

std::string Machine::pjlFileSystem(const pjl::Command& c, std::string_view data) {
    if (c.verb == "FSINIT") {   // VOLUME="0:": every file removed, as request 0xA1 does
        Path volume;
        if (toPath(c.option("VOLUME"), &volume) == 0 && volume.name.empty() &&
            m_storage.format(volume.device) == kStorageDone)
            raise(kFamilyDeviceManagement, storageAlert(kOpFormat, volume.device, 0, ""));
        return {};
    }
    const std::string* name = c.option("NAME");
    const std::string head = c.verb + " NAME=\"" + (name ? *name : "") + "\"";
    Path path;
    unsigned error = toPath(name, &path);
    const StorageDevice* d = error ? nullptr : std::as_const(m_storage).find(path.device);
    if (!error && !d) error = pjl::kFileErrorVolume;
    const StoredFile* file = d ? fileAt(*d, path.name) : nullptr;
    const bool directory = d && !file && isDirectory(*d, path.name);
    if (!error && !file && !directory) error = pjl::kFileErrorNotFound;
    auto number = [&](const char* option, uint64_t fallback) -> std::optional<uint64_t> {
        const std::string* text = c.option(option);
        return text ? pjl::parseNumber(*text, UINT32_MAX) : fallback;
    };

    if (c.verb == "FSQUERY") {
        if (error) return fileError(head, error);
        return reply(head + (file ? " TYPE=FILE SIZE=" + std::to_string(file->size) : " TYPE=DIR"));
    }
    if (c.verb == "FSDIRLIST") {
        auto entry = number("ENTRY", 1), count = number("COUNT", UINT32_MAX);
        if (!error && (!entry || !count || *entry == 0 || !directory)) error = pjl::kFileErrorParameter;
        if (error) return fileError(head, error);
        std::string body;
        std::vector<pjl::FileEntry> entries = entriesOf(*d, path.name);
        for (size_t i = *entry - 1; i < entries.size() && i - (*entry - 1) < *count; ++i)
            body += entries[i].name + (entries[i].directory ? " TYPE=DIR" : " TYPE=FILE SIZE=" + std::to_string(entries[i].size)) + "\r\n";
        return reply(head + " ENTRY=" + std::to_string(*entry), body);
    }
    if (c.verb == "FSUPLOAD") {
        auto offset = number("OFFSET", 0), size = number("SIZE", 0);
        if (!error && (!file || !offset || !size || *size == 0 || *size > pjl::kMaxUpload || *offset > file->size))
            error = file ? pjl::kFileErrorParameter : pjl::kFileErrorNotFound;
        if (error) return fileError(head, error);
        uint64_t n = std::min<uint64_t>(*size, file->size - *offset);
        return std::string(pjl::kPrefix) + " FSUPLOAD FORMAT:BINARY NAME=\"" + *name + "\" OFFSET=" +
               std::to_string(*offset) + " SIZE=" + std::to_string(n) + "\r\n" + fileData(*offset, n) + pjl::kFormFeed;
    }
    if (!d || path.name.empty()) return {};   // no reply: errors go to USTATUS, which the simulator does not send
    if (c.verb == "FSDOWNLOAD" && !directory &&
        m_storage.store(path.device, path.name, static_cast<uint32_t>(data.size())) == kStorageDone)
        for (size_t slash = path.name.find('/'); slash != std::string::npos; slash = path.name.find('/', slash + 1))
            m_storage.remove(path.device, path.name.substr(0, slash + 1));   // no longer an empty directory
    if (c.verb == "FSMKDIR" && !file && !directory) m_storage.store(path.device, path.name + "/", 0);
    if (c.verb == "FSDELETE" && file && m_storage.remove(path.device, path.name) == kStorageDone)
        raise(kFamilyDeviceManagement, storageAlert(kOpDelete, path.device, 0, path.name));
    if (c.verb == "FSDELETE" && directory && entriesOf(*d, path.name).size() == 2)
        m_storage.remove(path.device, path.name + "/");
    return {};
}

}  // namespace kvsim

// The configuration file: an initialisation-style file whose sections
// "PrinterType<n>" hold the entries "List1" and "List2", each a list of
// hexadecimal variable ids (docs/quicksetup.md). Section and entry names are
// compared without regard to case; an entry may be given on several lines,
// whose ids are taken in order.
#include <cctype>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

#include "engine/c_boundary.h"
#include "internal.h"
#include "kvprtobj/zutlib32.h"

struct _QSFINI {
    struct Entry {
        std::string section;   // lower case
        std::string key;       // lower case
        std::string value;
    };
    std::vector<Entry> entries;
};

namespace {

std::string_view trim(std::string_view s) {
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.front()))) s.remove_prefix(1);
    while (!s.empty() && std::isspace(static_cast<unsigned char>(s.back()))) s.remove_suffix(1);
    return s;
}

std::string lower(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

// Lines: "[section]", "key = value", comments beginning with ';' or '#',
// blank lines. Other lines, and entries before the first section, are ignored.
void parse(std::string_view text, std::vector<_QSFINI::Entry>& entries) {
    std::string section;
    bool inSection = false;
    while (!text.empty()) {
        size_t end = text.find('\n');
        std::string_view line = trim(text.substr(0, end));
        text.remove_prefix(end == std::string_view::npos ? text.size() : end + 1);
        if (line.empty() || line.front() == ';' || line.front() == '#') continue;
        if (line.front() == '[') {
            size_t close = line.find(']');
            inSection = close != std::string_view::npos;
            if (inSection) section = lower(trim(line.substr(1, close - 1)));
            continue;
        }
        size_t equals = line.find('=');
        if (!inSection || equals == std::string_view::npos) continue;
        entries.push_back({section, lower(trim(line.substr(0, equals))), std::string(trim(line.substr(equals + 1)))});
    }
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    return -1;
}

// Appends the ids of one entry value (tokens of 1 to 4 hexadecimal digits,
// "0x" allowed, separated by blanks or commas); false on anything else.
bool appendIds(std::string_view value, std::vector<uint8_t>& ids) {
    size_t pos = 0;
    while (pos < value.size()) {
        char c = value[pos];
        if (c == ',' || std::isspace(static_cast<unsigned char>(c))) {
            ++pos;
            continue;
        }
        size_t end = value.find_first_of(", \t\r", pos);
        std::string_view token = value.substr(pos, end == std::string_view::npos ? std::string_view::npos : end - pos);
        pos = end == std::string_view::npos ? value.size() : end;
        if (token.size() > 2 && token[0] == '0' && (token[1] == 'x' || token[1] == 'X')) token.remove_prefix(2);
        if (token.empty() || token.size() > 4) return false;
        unsigned id = 0;
        for (char d : token) {
            int v = hexDigit(d);
            if (v < 0) return false;
            id = id << 4 | static_cast<unsigned>(v);
        }
        ids.push_back(static_cast<uint8_t>(id >> 8));
        ids.push_back(static_cast<uint8_t>(id & 0xFF));
    }
    return true;
}

}  // namespace

extern "C" _QSFINI* PtIniOpen2(const char* path, int mode) {
    return kvpo::cBoundary(nullptr, [&]() -> _QSFINI* {
        if (path == nullptr || mode != 1) return nullptr;
        std::vector<uint8_t> bytes;
        if (zut::readWholeFile(path, zut::kMaxConfigFileSize, bytes) != PTQSF_OK) return nullptr;
        auto ini = std::make_unique<_QSFINI>();
        parse(std::string_view(reinterpret_cast<const char*>(bytes.data()), bytes.size()), ini->entries);
        return ini.release();
    });
}

extern "C" int PtIniClose(_QSFINI* ini) {
    delete ini;
    return PTQSF_OK;
}

extern "C" int PtQsfIniGetSection(_QSFINI* ini, int list, unsigned long printerType, unsigned char** ids,
                                  unsigned short* count) {
    return kvpo::cBoundary(PTQSF_NO_MEMORY, [&]() -> int {
        if (ids) *ids = nullptr;
        if (count) *count = 0;
        if (ini == nullptr || ids == nullptr || count == nullptr || (list != 1 && list != 2)) return PTQSF_BAD_ARGUMENT;
        const std::string section = "printertype" + std::to_string(printerType);
        const std::string key = "list" + std::to_string(list);
        std::vector<uint8_t> found;
        bool present = false;
        for (const auto& entry : ini->entries) {
            if (entry.section != section || entry.key != key) continue;
            present = true;
            if (!appendIds(entry.value, found)) return PTQSF_BAD_CONFIG;
        }
        if (!present) return PTQSF_NO_ENTRY;
        if (found.size() / 2 > 0xFFFF) return PTQSF_BAD_CONFIG;
        if (found.empty()) return PTQSF_OK;
        *ids = zut::handOut(found.data(), found.size());
        if (*ids == nullptr) return PTQSF_NO_MEMORY;
        *count = static_cast<unsigned short>(found.size() / 2);
        return PTQSF_OK;
    });
}

// PJL requests: the checks that keep every byte inside PJL, the framing, and
// the split of a command line into its parts.
#include <algorithm>
#include <cctype>

#include "pjl.h"

namespace kvnet::pjl {
namespace {

// A request never grows beyond this: a download and room for its lines.
constexpr size_t kMaxRequest = kMaxDownload + 64 * 1024;
constexpr std::string_view kPersonalityPrefix = "LPARM:";

bool printable(char c) { return c >= 0x20 && c <= 0x7E; }
bool blank(char c) { return c == ' ' || c == '\t'; }
bool wordChar(char c) { return std::isalnum(static_cast<unsigned char>(c)) || c == '_'; }

bool word(std::string_view s) { return !s.empty() && std::all_of(s.begin(), s.end(), wordChar); }

std::string upper(std::string_view s) {
    std::string out(s);
    for (char& c : out) c = static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
    return out;
}

// `text` between double quotes (appended, not concatenated: GCC 12 at -O3
// warns falsely about a prepended literal).
std::string quoted(std::string_view text) {
    std::string out;
    out.reserve(text.size() + 2);
    out.append(1, '"').append(text).append(1, '"');
    return out;
}

// A value as it goes on a line: quoted when it is not one word.
std::string valueText(std::string_view value) {
    bool plain = std::all_of(value.begin(), value.end(), [](char c) { return wordChar(c) || c == '.' || c == '-' || c == '+'; });
    return plain ? std::string(value) : quoted(value);
}

}  // namespace

bool validName(std::string_view name) {
    if (name.size() > kMaxName) return false;
    if (name.substr(0, kPersonalityPrefix.size()) == kPersonalityPrefix) {
        name.remove_prefix(kPersonalityPrefix.size());
        size_t space = name.find(' ');
        return space != std::string_view::npos && word(name.substr(0, space)) && word(name.substr(space + 1));
    }
    return word(name);
}

bool validValue(std::string_view value) {
    return !value.empty() && value.size() <= kMaxValue &&
           std::all_of(value.begin(), value.end(), [](char c) { return printable(c) && c != '"'; });
}

bool validPath(std::string_view path) {
    return path.size() >= 2 && path.size() <= kMaxPath && std::isdigit(static_cast<unsigned char>(path[0])) &&
           path[1] == ':' && std::all_of(path.begin(), path.end(), [](char c) { return printable(c) && c != '"'; });
}

bool Request::refuse() {
    m_refused = true;
    return false;
}

bool Request::add(std::string line, std::string_view data) {
    if (m_refused || m_lines.size() + line.size() + data.size() + 16 > kMaxRequest) return refuse();
    m_lines.append(kPrefix).append(" ").append(line).append(kLineEnd).append(data);
    return true;
}

bool Request::info(std::string_view category) {
    return word(category) && category.size() <= kMaxName ? add("INFO " + upper(category)) : refuse();
}

bool Request::inquire(std::string_view variable) {
    return validName(variable) ? add("INQUIRE " + std::string(variable)) : refuse();
}

bool Request::dinquire(std::string_view variable) {
    return validName(variable) ? add("DINQUIRE " + std::string(variable)) : refuse();
}

bool Request::setDefault(std::string_view variable, std::string_view value) {
    if (!validName(variable) || !validValue(value)) return refuse();
    return add("DEFAULT " + std::string(variable) + "=" + valueText(value));
}

bool Request::set(std::string_view variable, std::string_view value) {
    if (!validName(variable) || !validValue(value)) return refuse();
    return add("SET " + std::string(variable) + "=" + valueText(value));
}

bool Request::echo(std::string_view words) {
    bool ok = words.size() <= kMaxValue && std::all_of(words.begin(), words.end(), printable);
    return ok ? add(words.empty() ? "ECHO" : "ECHO " + std::string(words)) : refuse();
}

bool Request::initialize() { return add("INITIALIZE"); }

bool Request::ustatus(std::string_view kind, std::string_view value) {
    return word(kind) && word(value) && kind.size() <= kMaxName && value.size() <= kMaxName
               ? add("USTATUS " + upper(kind) + "=" + upper(value))
               : refuse();
}

bool Request::fsQuery(std::string_view path) {
    return validPath(path) ? add("FSQUERY NAME=" + quoted(path)) : refuse();
}

bool Request::fsDirList(std::string_view path, uint32_t entry, uint32_t count) {
    if (!validPath(path) || entry == 0 || count == 0) return refuse();
    return add("FSDIRLIST NAME=" + quoted(path) + " ENTRY=" + std::to_string(entry) + " COUNT=" + std::to_string(count));
}

bool Request::fsUpload(std::string_view path, uint32_t offset, uint32_t size) {
    if (!validPath(path) || size == 0 || size > kMaxUpload) return refuse();
    return add("FSUPLOAD NAME=" + quoted(path) + " OFFSET=" + std::to_string(offset) + " SIZE=" + std::to_string(size));
}

bool Request::fsDownload(std::string_view path, std::string_view data) {
    if (!validPath(path) || data.size() > kMaxDownload) return refuse();
    return add("FSDOWNLOAD FORMAT:BINARY SIZE=" + std::to_string(data.size()) + " NAME=" + quoted(path), data);
}

bool Request::fsDelete(std::string_view path) {
    return validPath(path) ? add("FSDELETE NAME=" + quoted(path)) : refuse();
}

bool Request::fsMkdir(std::string_view path) {
    return validPath(path) ? add("FSMKDIR NAME=" + quoted(path)) : refuse();
}

bool Request::fsInit(std::string_view volume) {
    bool ok = volume.size() == 2 && std::isdigit(static_cast<unsigned char>(volume[0])) && volume[1] == ':';
    return ok ? add("FSINIT VOLUME=" + quoted(volume)) : refuse();
}

std::optional<std::string> Request::bytes() const {
    if (m_refused || m_lines.empty()) return std::nullopt;
    std::string out;
    out.reserve(2 * kUel.size() + kPrefix.size() + 2 + m_lines.size());
    out.append(kUel).append(kPrefix).append(kLineEnd).append(m_lines).append(kUel);
    return out;
}

const std::string* Command::option(std::string_view name) const {
    for (const auto& [key, value] : options)
        if (key == name) return &value;
    return nullptr;
}

std::optional<Command> parseCommand(std::string_view line) {
    while (!line.empty() && (line.back() == '\n' || line.back() == '\r')) line.remove_suffix(1);
    if (line.substr(0, kPrefix.size()) != kPrefix) return std::nullopt;
    if (std::any_of(line.begin(), line.end(), [](char c) { return !blank(c) && static_cast<unsigned char>(c) < 0x20; }))
        return std::nullopt;
    std::string_view s = line.substr(kPrefix.size());
    if (!s.empty() && !blank(s[0])) return std::nullopt;   // "@PJLX" is no PJL line
    size_t i = 0;
    auto skipBlanks = [&] {
        while (i < s.size() && blank(s[i])) ++i;
    };
    // A token: quoted (without its quotes), or up to a blank or (unless
    // `value`) an equals sign. False for an unclosed quote.
    auto token = [&](bool value, std::string* out) {
        if (i < s.size() && s[i] == '"') {
            size_t close = s.find('"', i + 1);
            if (close == std::string_view::npos) return false;
            *out = std::string(s.substr(i + 1, close - i - 1));
            i = close + 1;
            return true;
        }
        size_t start = i;
        while (i < s.size() && !blank(s[i]) && (value || s[i] != '=')) ++i;
        *out = std::string(s.substr(start, i - start));
        return true;
    };
    Command command;
    skipBlanks();
    std::string verb;
    if (!token(false, &verb)) return std::nullopt;
    command.verb = upper(verb);
    skipBlanks();
    command.rest = std::string(s.substr(i));
    while (skipBlanks(), i < s.size()) {
        std::string name;
        if (!token(false, &name)) return std::nullopt;
        size_t afterName = i;
        skipBlanks();
        if (i < s.size() && s[i] == '=' && !name.empty()) {
            ++i;
            skipBlanks();
            bool quotedValue = i < s.size() && s[i] == '"';
            std::string value;
            if (!token(true, &value) || (value.empty() && !quotedValue)) return std::nullopt;
            command.options.emplace_back(upper(name), std::move(value));
        } else if (name.empty()) {
            return std::nullopt;   // "=" with no name before it
        } else {
            i = afterName;
            command.words.push_back(std::move(name));
        }
    }
    return command;
}

std::optional<uint64_t> parseNumber(std::string_view text, uint64_t max) {
    if (text.empty() || text.size() > 20) return std::nullopt;
    uint64_t n = 0;
    for (char c : text) {
        if (c < '0' || c > '9') return std::nullopt;
        unsigned digit = static_cast<unsigned>(c - '0');
        if (n > (max - digit) / 10) return std::nullopt;
        n = n * 10 + digit;
    }
    return n;
}

}  // namespace kvnet::pjl

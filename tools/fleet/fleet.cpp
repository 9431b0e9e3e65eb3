#include "fleet.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <map>
#include <sstream>

#include <toml++/toml.h>

namespace kvprtd {
namespace {

constexpr size_t kMaxUriLength = 1024;
constexpr size_t kMaxLocationLength = 256;
constexpr size_t kMaxTags = 32;
constexpr size_t kMaxSerialLength = 64;

// A fault of the file: where, which field, what.
struct Fault {
    toml::source_position at;
    std::string field;
    std::string what;
};

bool hasControlCharacters(std::string_view text) {
    for (unsigned char c : text)
        if (c < 0x20 || c == 0x7F) return true;
    return false;
}

// Reads a text field of at most `maxLength` bytes without control characters.
std::string text(const toml::node& node, const std::string& field, size_t maxLength) {
    const auto* value = node.as_string();
    if (value == nullptr) throw Fault{node.source().begin, field, "expected a text"};
    const std::string& s = value->get();
    if (s.size() > maxLength)
        throw Fault{node.source().begin, field, "longer than " + std::to_string(maxLength) + " bytes"};
    if (hasControlCharacters(s)) throw Fault{node.source().begin, field, "holds control characters"};
    return s;
}

// A URI of a scheme the engine opens, naming a host where the scheme needs one.
std::string uri(const toml::node& node, const std::string& field) {
    std::string s = text(node, field, kMaxUriLength);
    if (s.empty()) throw Fault{node.source().begin, field, "is empty"};
    const bool networked = s.starts_with("tcp://") || s.starts_with("net://");
    if (!networked && !s.starts_with("sim:"))
        throw Fault{node.source().begin, field, "\"" + s + "\" is not a sim:, tcp:// or net:// URI"};
    if (networked && (s.size() == 6 || std::string_view("/?:").find(s[6]) != std::string_view::npos))
        throw Fault{node.source().begin, field, "\"" + s + "\" names no host"};
    return s;
}

std::string name(const toml::node& node, const std::string& field) {
    std::string s = text(node, field, 64);
    if (!validName(s))
        throw Fault{node.source().begin, field,
                    "\"" + s + "\" is not 1 to 64 letters, digits, '.', '_' and '-'"};
    return s;
}

PrinterConfig printer(const toml::table& table, const std::string& prefix) {
    PrinterConfig p;
    bool named = false, located = false;
    for (auto&& [key, node] : table) {
        std::string field = prefix + "." + std::string(key.str());
        if (key == "name") {
            p.name = name(node, field);
            named = true;
        } else if (key == "uri") {
            p.uri = uri(node, field);
            located = true;
        } else if (key == "location") {
            p.location = text(node, field, kMaxLocationLength);
        } else if (key == "tags") {
            const auto* tags = node.as_array();
            if (tags == nullptr) throw Fault{node.source().begin, field, "expected an array of texts"};
            if (tags->size() > kMaxTags)
                throw Fault{node.source().begin, field, "more than " + std::to_string(kMaxTags) + " tags"};
            for (size_t i = 0; i < tags->size(); ++i)
                p.tags.push_back(name(*tags->get(i), field + "[" + std::to_string(i) + "]"));
        } else if (key == "serial") {
            p.serial = text(node, field, kMaxSerialLength);
        } else {
            throw Fault{key.source().begin, field, "unknown key (expected name, uri, location, tags, serial)"};
        }
    }
    if (!named) throw Fault{table.source().begin, prefix + ".name", "missing"};
    if (!located) throw Fault{table.source().begin, prefix + ".uri", "missing"};
    return p;
}

Fleet fleet(const toml::table& root) {
    Fleet f;
    std::map<std::string, size_t> seen, seenUris;
    for (auto&& [key, node] : root) {
        std::string field(key.str());
        if (key == "poll_interval_s") {
            const auto* value = node.as_integer();
            if (value == nullptr || value->get() < 1 || value->get() > kMaxPollIntervalS)
                throw Fault{node.source().begin, field,
                            "expected a whole number of seconds from 1 to " + std::to_string(kMaxPollIntervalS)};
            f.pollIntervalS = static_cast<int>(value->get());
        } else if (key == "printer") {
            const auto* list = node.as_array();
            if (list != nullptr && list->empty()) {
                f.emptyOnPurpose = true;
                continue;
            }
            if (list == nullptr || !list->is_array_of_tables())
                throw Fault{node.source().begin, field, "expected [[printer]] tables"};
            for (size_t i = 0; i < list->size(); ++i) {
                std::string prefix = "printer[" + std::to_string(i) + "]";
                const toml::table& table = *list->get(i)->as_table();
                PrinterConfig p = printer(table, prefix);
                if (auto [it, added] = seen.emplace(p.name, i); !added)
                    throw Fault{table["name"].node()->source().begin, prefix + ".name",
                                "\"" + p.name + "\" is already the name of printer[" + std::to_string(it->second) + "]"};
                // Each sim: is a printer of its own; a network URI names one printer.
                if (!p.uri.starts_with("sim:"))
                    if (auto [it, added] = seenUris.emplace(p.uri, i); !added)
                        throw Fault{table["uri"].node()->source().begin, prefix + ".uri",
                                    "\"" + p.uri + "\" is already the URI of printer[" + std::to_string(it->second) + "]"};
                f.printers.push_back(std::move(p));
            }
        } else {
            throw Fault{key.source().begin, field, "unknown key (expected poll_interval_s, [[printer]])"};
        }
    }
    return f;
}

std::string where(const std::string& path, const toml::source_position& at) {
    return path + ":" + std::to_string(at.line) + ":" + std::to_string(at.column);
}

}  // namespace

bool validName(std::string_view name) {
    if (name.empty() || name.size() > 64) return false;
    for (char c : name)
        if (!((c >= 'a' && c <= 'z') || (c >= 'A' && c <= 'Z') || (c >= '0' && c <= '9') || c == '.' || c == '_' ||
              c == '-'))
            return false;
    return true;
}

std::optional<Fleet> parseFleet(std::string_view text, const std::string& path, std::string* error) {
    try {
        toml::table root = toml::parse(text, path);
        return fleet(root);
    } catch (const toml::parse_error& e) {
        *error = where(path, e.source().begin) + ": " + std::string(e.description());
    } catch (const Fault& f) {
        *error = where(path, f.at) + ": " + f.field + ": " + f.what;
    }
    return std::nullopt;
}

std::optional<Fleet> readFleet(const std::string& path, std::string* error) {
    // Opened without waiting, so that a FIFO (or a device) neither blocks the
    // caller, nor its signals with it, until someone writes to it.
    const int fd = ::open(path.c_str(), O_RDONLY | O_NONBLOCK | O_CLOEXEC);
    struct stat st {};
    if (fd < 0 || ::fstat(fd, &st) != 0) {
        if (fd >= 0) ::close(fd);
        *error = path + ": cannot be read";
        return std::nullopt;
    }
    std::string text;
    const char* fault = nullptr;
    if (!S_ISREG(st.st_mode)) {
        fault = "not a regular file";
    } else {
        char buffer[65536];
        ssize_t n;
        while ((n = ::read(fd, buffer, sizeof buffer)) > 0 || (n < 0 && errno == EINTR)) {
            text.append(buffer, n > 0 ? static_cast<size_t>(n) : 0);
            if (text.size() > kMaxFleetFileBytes) break;
        }
        if (n < 0) fault = "cannot be read";
    }
    ::close(fd);
    if (fault) {
        *error = path + ": " + fault;
        return std::nullopt;
    }
    if (text.size() > kMaxFleetFileBytes) {
        *error = path + ": larger than " + std::to_string(kMaxFleetFileBytes >> 20) + " MiB";
        return std::nullopt;
    }
    return parseFleet(text, path, error);
}

std::string fleetText(const Fleet& fleet) {
    toml::table root;
    if (fleet.pollIntervalS != Fleet{}.pollIntervalS) root.insert("poll_interval_s", fleet.pollIntervalS);
    toml::array printers;
    for (const PrinterConfig& p : fleet.printers) {
        toml::table entry{{"name", p.name}, {"uri", p.uri}};
        if (!p.location.empty()) entry.insert("location", p.location);
        if (!p.tags.empty()) {
            toml::array tags;
            for (const std::string& tag : p.tags) tags.push_back(tag);
            entry.insert("tags", std::move(tags));
        }
        if (!p.serial.empty()) entry.insert("serial", p.serial);
        printers.push_back(std::move(entry));
    }
    root.insert("printer", std::move(printers));
    std::ostringstream out;
    out << root << '\n';
    return out.str();
}

}  // namespace kvprtd

#include "fleet.h"

#include <fstream>
#include <map>

#include <toml++/toml.h>

namespace kvprtd {
namespace {

constexpr size_t kMaxUriLength = 1024;
constexpr size_t kMaxLocationLength = 256;
constexpr size_t kMaxTags = 32;

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
            p.uri = text(node, field, kMaxUriLength);
            if (p.uri.empty()) throw Fault{node.source().begin, field, "is empty"};
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
        } else {
            throw Fault{key.source().begin, field, "unknown key (expected name, uri, location, tags)"};
        }
    }
    if (!named) throw Fault{table.source().begin, prefix + ".name", "missing"};
    if (!located) throw Fault{table.source().begin, prefix + ".uri", "missing"};
    return p;
}

Fleet fleet(const toml::table& root) {
    Fleet f;
    std::map<std::string, size_t> seen;
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
            if (list == nullptr || !list->is_array_of_tables())
                throw Fault{node.source().begin, field, "expected [[printer]] tables"};
            for (size_t i = 0; i < list->size(); ++i) {
                std::string prefix = "printer[" + std::to_string(i) + "]";
                const toml::table& table = *list->get(i)->as_table();
                PrinterConfig p = printer(table, prefix);
                if (auto [it, added] = seen.emplace(p.name, i); !added)
                    throw Fault{table["name"].node()->source().begin, prefix + ".name",
                                "\"" + p.name + "\" is already the name of printer[" + std::to_string(it->second) + "]"};
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
    std::ifstream in(path, std::ios::binary);
    if (!in) {
        *error = path + ": cannot be read";
        return std::nullopt;
    }
    std::string text;
    char buffer[65536];
    while (in.read(buffer, sizeof buffer) || in.gcount() > 0) {
        text.append(buffer, static_cast<size_t>(in.gcount()));
        if (text.size() > kMaxFleetFileBytes) {
            *error = path + ": larger than " + std::to_string(kMaxFleetFileBytes >> 20) + " MiB";
            return std::nullopt;
        }
    }
    if (in.bad()) {
        *error = path + ": cannot be read";
        return std::nullopt;
    }
    return parseFleet(text, path, error);
}

}  // namespace kvprtd

#include "shard.h"

#include <charconv>

namespace kvprtd {

uint64_t fnv1a64(std::string_view bytes) {
    uint64_t hash = 0xcbf29ce484222325ull;
    for (unsigned char c : bytes) {
        hash ^= c;
        hash *= 0x100000001b3ull;
    }
    return hash;
}

bool Shard::owns(std::string_view printerName) const { return fnv1a64(printerName) % count == index; }

std::optional<Shard> parseShard(std::string_view text) {
    size_t slash = text.find('/');
    if (slash == std::string_view::npos) return std::nullopt;
    auto number = [](std::string_view part, unsigned* value) {
        if (part.empty() || part.size() > 5 || part.find_first_not_of("0123456789") != std::string_view::npos)
            return false;
        return std::from_chars(part.data(), part.data() + part.size(), *value).ec == std::errc();
    };
    Shard s;
    if (!number(text.substr(0, slash), &s.index) || !number(text.substr(slash + 1), &s.count)) return std::nullopt;
    if (s.count == 0 || s.count > kMaxShards || s.index >= s.count) return std::nullopt;
    return s;
}

}  // namespace kvprtd

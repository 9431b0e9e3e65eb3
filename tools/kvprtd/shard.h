// Sharding: `--shard K/N` makes an instance watch only the printers whose
// name hashes to K, so that N instances share one fleet file. The hash is
// 64-bit FNV-1a of the name's bytes (offset basis 0xcbf29ce484222325, prime
// 0x100000001b3), taken modulo N; K runs from 0 to N-1.
#pragma once

#include <cstdint>
#include <optional>
#include <string_view>

namespace kvprtd {

struct Shard {
    unsigned index = 0;
    unsigned count = 1;
    bool owns(std::string_view printerName) const;
};

constexpr unsigned kMaxShards = 4096;

uint64_t fnv1a64(std::string_view bytes);
// "K/N" with 0 <= K < N <= kMaxShards; nothing for anything else.
std::optional<Shard> parseShard(std::string_view text);

}  // namespace kvprtd

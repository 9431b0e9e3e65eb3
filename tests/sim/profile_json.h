// Reading printer profiles in tests: expectations come from the profile's
// JSON as it stands, not from the simulator's own loader.
#pragma once

#include <cstdint>
#include <fstream>
#include <stdexcept>
#include <string>

#include <nlohmann/json.hpp>

#include "bytes.h"

namespace simtest {

using nlohmann::json;

// The built-in profile, from the source tree.
inline const json& defaultProfile() {
    static const json profile = json::parse(std::ifstream(KVPRTSIM_DEFAULT_PROFILE));
    return profile;
}

inline uint32_t number(const json& v) {
    if (v.is_string()) return static_cast<uint32_t>(std::stoul(v.get<std::string>(), nullptr, 16));
    return v.get<uint32_t>();
}

// The bytes of a value written as {"u8": n}, {"be16": n}, {"be32": n}, {"text": ...}, {"hex": ...} or plain text.
inline kvtest::ByteVec valueBytes(const json& v) {
    if (v.is_string()) return kvtest::Bytes().text(v.get<std::string>());
    if (v.contains("u8")) return kvtest::Bytes().u8(v["u8"].get<unsigned>());
    if (v.contains("be16")) return kvtest::Bytes().be16(v["be16"].get<unsigned>());
    if (v.contains("be32")) return kvtest::Bytes().be32(v["be32"].get<uint32_t>());
    if (v.contains("text")) return kvtest::Bytes().text(v["text"].get<std::string>());
    return kvtest::hex(v["hex"].get<std::string>());
}

// A variable id written as "00 4D".
inline kvtest::ByteVec varId(const json& id) { return kvtest::hex(id.get<std::string>()); }

// The variable of `list` (variables or miscVariables) with this id.
inline const json& variableNamed(const json& profile, const char* list, const std::string& id) {
    for (const json& v : profile[list])
        if (v["id"] == id) return v;
    throw std::runtime_error(std::string("no variable ") + id);
}

}  // namespace simtest

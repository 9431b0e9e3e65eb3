// The built-in printer profile as JSON, for tests whose expectations come
// from the profile as it stands, not from the simulator's own loader.
#pragma once

#include <fstream>

#include <nlohmann/json.hpp>

namespace simtest {

using nlohmann::json;

// The built-in profile, from the source tree.
inline const json& defaultProfile() {
    static const json profile = json::parse(std::ifstream(KVPRTSIM_DEFAULT_PROFILE));
    return profile;
}

}  // namespace simtest

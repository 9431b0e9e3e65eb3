// A printer's state written as a profile (docs/simulator.md): the reverse of
// loadProfile, so that any printer the library reads can be kept as a JSON
// fixture and served again by sim:FILE or kvprtsimd --profile FILE.
#pragma once

#include <string>
#include <string_view>

#include "profile.h"

namespace kvsim {

// Pretty JSON (two-space indent, keys in the order of docs/simulator.md)
// from which loadProfile builds a profile equal to `profile`, for every
// profile loadProfile accepts. Texts go to UTF-8; derived data (font
// descriptions, alert data) is written in the structured form where that
// builds the same bytes, else in its raw form. A "_comment" says the file was
// written by kvprt snapshot from `source` (a printer's name or redacted URI).
// A profile beyond the loader's limits (a net:// printer's) is written as it
// is, and refused when read back, naming the field.
std::string profileToJson(const Profile& profile, std::string_view source);

}  // namespace kvsim

// Character sets of the simulated printer: texts go out in ISO 8859-1, the
// operator panel in code page 850. Profiles are written in UTF-8.
#pragma once

#include <optional>
#include <string>
#include <string_view>

namespace kvsim {

// UTF-8 to ISO 8859-1; nothing when a character has no ISO 8859-1 form or the
// UTF-8 is malformed.
std::optional<std::string> toLatin1(std::string_view utf8);

// UTF-8 to code page 850; nothing when a character has no code page 850 form.
std::optional<std::string> toCp850(std::string_view utf8);

// The reverse: every byte has its character, so these always succeed and
// toLatin1 / toCp850 give the bytes back.
std::string fromLatin1(std::string_view latin1);
std::string fromCp850(std::string_view cp850);

}  // namespace kvsim

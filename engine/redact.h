// Printer URIs as they may be shown (BceRedactUri).
#pragma once

#include <string>
#include <string_view>

namespace zorbce {

// `uri` with the values of the options that hold or name secrets (community=,
// auth=) and a user or password before the host replaced by "***".
std::string redactedUri(std::string_view uri);

}  // namespace zorbce

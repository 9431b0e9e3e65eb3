// Wall-clock times as kvprtd stores and shows them: milliseconds since the
// epoch (UTC) in the database, RFC 3339 texts in the API.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace kvprtd {

constexpr int64_t kDayMs = 86400000;

// Now, in milliseconds since 1970-01-01T00:00:00Z.
int64_t nowMs();
// "2026-01-02T03:04:05.678Z".
std::string rfc3339(int64_t ms);
// A time of the API's query parameters: whole seconds since the epoch
// ("1767225600"), or RFC 3339 with a zone ("2026-01-01T00:00:00Z",
// "2026-01-01T01:00:00.5+01:00"). Nothing for anything else.
std::optional<int64_t> parseTime(std::string_view text);

}  // namespace kvprtd

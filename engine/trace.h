// Hex dumps of requests and replies on standard error, for debugging.
#pragma once

#include <cstddef>

namespace zorbce {

bool tracing();
void traceFrame(const char* direction, unsigned short handle, unsigned short code, const void* data, size_t length,
                long result);

}  // namespace zorbce

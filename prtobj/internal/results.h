// Result codes of the library's operations: the engine's BCE_E_* codes
// (kvprtobj/zorbce.h), and names of our own where an engine code is given a
// narrower meaning. No library source returns or compares a bare number;
// .ci/check-result-codes keeps it so.
#pragma once

#include "kvprtobj/zorbce.h"

namespace kvpo {

constexpr long kNullArgument = BCE_E_NO_MEMORY;    // a required record or output pointer is null
constexpr long kBufferTooSmall = BCE_E_NO_MEMORY;  // the engine's "the reply does not fit"
constexpr long kShortReply = BCE_E_BAD_REPLY;      // a reply or alert ends before what it claims
constexpr long kNoEcho = BCE_E_BAD_REPLY;          // the reply does not echo the request, or lacks its mark
constexpr long kNotFound = BCE_E_BAD_REPLY;        // the reply lacks the entry asked for

}  // namespace kvpo

// IPP messages in and out of bytes, with libcups as the codec (ippNew*,
// ippAdd*, ippWriteIO, ippReadIO): nothing of libcups leaves codec.cpp. A
// response is read from memory and converted into plain attributes
// (attributes.h) within the bounds below; whatever lies beyond them is
// dropped, so a hostile printer costs bounded memory and time.
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "attributes.h"

namespace kvnet::ipp::codec {

// Bounds of a decoded response.
constexpr size_t kMaxJobs = 1000;              // job groups kept
constexpr size_t kMaxAttributes = 512;         // attributes kept per group
constexpr size_t kMaxValues = 256;             // values kept per attribute
constexpr size_t kMaxText = 1024;              // bytes kept of a text or a flattened collection
constexpr int kMaxCollectionDepth = 4;         // nesting flattened; deeper members are dropped

// IPP operations and status codes the backend uses.
constexpr int kOpPrintJob = 0x0002;
constexpr int kOpCancelJob = 0x0008;
constexpr int kOpGetJobs = 0x000A;
constexpr int kOpGetPrinterAttributes = 0x000B;
constexpr int kStatusClientError = 0x0400;   // 0x04xx client errors, 0x05xx server errors

// What every request of the backend carries: the printer's URI, the user
// named in requesting-user-name and the request id.
struct Target {
    std::string printerUri;
    std::string user;
    int requestId = 1;
};

// The encoded requests (IPP 2.0 messages, attributes-charset utf-8).
std::string getPrinterAttributes(const Target& target, const std::vector<std::string>& requested);
std::string getJobs(const Target& target, const std::vector<std::string>& requested);
std::string cancelJob(const Target& target, int32_t jobId);

// Decodes a response body. 0, or with `error` set: BCE_E_BAD_REPLY when the
// bytes are not a whole IPP message or answer another request id. A body
// `endedByClose` (no length told where it ends) that is not a whole message
// gives BCE_E_CONNECTION_RESET instead: the printer's close cut it short.
long decode(const std::string& body, bool endedByClose, int requestId, Response* response, std::string* error);

// The name of an IPP status code ("client-error-not-found").
std::string statusName(int status);

}  // namespace kvnet::ipp::codec

// The network types in the order of BIDICAPABILITIES::dwProtocols: bit k is
// set when the printer can be reached over kProtocolNetTypes[k]. Discovery
// sets all eight bits; the transport validates a network type against the
// first seven (BCE_NET_10 is always valid).
#pragma once

#include <cstddef>
#include <cstdint>
#include <iterator>

#include "kvprtobj/zorbce.h"

namespace kvpo {

constexpr unsigned int kProtocolNetTypes[] = {BCE_NET_01, BCE_NET_IP, BCE_NET_80, BCE_NET_IPX,
                                              BCE_NET_40, BCE_NET_DLC, BCE_NET_08, BCE_NET_10};
constexpr size_t kValidatedProtocols = 7;

// The dwProtocols bit of `netType`; 0 for a type without one.
constexpr uint32_t protocolBit(unsigned int netType) {
    for (size_t k = 0; k < std::size(kProtocolNetTypes); ++k)
        if (kProtocolNetTypes[k] == netType) return 1u << k;
    return 0;
}

}  // namespace kvpo

// The transport's rules (see prtobj/internal/transport_rules.h).
#include "prtobj/internal/transport_rules.h"

#include <cstring>

#include "prtobj/internal/results.h"

namespace kvpo {

unsigned int TransportRules::netType(const KVPrtObj& printer) {
    if (!printer.isValidNetType(printer.getBidiQueryNetType())) return printer.setBidiQueryNetType(0);
    return printer.getBidiQueryNetType();
}

bool TransportRules::grows(long rc, unsigned long capacity, bool grownThisAttempt) {
    return rc == kBufferTooSmall && (!grownThisAttempt || capacity < KVPrtObj::kMaxReplySize);
}

unsigned long TransportRules::nextCapacity(unsigned long capacity, unsigned long needs) {
    constexpr unsigned long kMax = KVPrtObj::kMaxReplySize;
    do
        capacity = capacity > kMax / 2 ? kMax : capacity * 2;
    while (capacity < needs && capacity < kMax);
    return capacity;
}

long TransportRules::finishReply(long rc, void* reply, unsigned long* length, unsigned long capacity) {
    if (rc != BCE_OK) return rc;
    if (*length == 0 || *length > capacity) return BCE_E_BAD_REPLY;
    --*length;
    std::memmove(reply, static_cast<unsigned char*>(reply) + 1, *length);
    return BCE_OK;
}

}  // namespace kvpo

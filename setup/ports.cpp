// Property tag, available ports and loopback.
#include <algorithm>

#include "prtobj/internal/ask.h"

long KVPrtObj::bidiGetPropertyTag(PROPERTYTAG* tag) {
    if (tag == nullptr) return kvpo::kNullArgument;
    tag->strTag.clear();
    return BCE_OK;
}

long KVPrtObj::bidiSetPropertyTag(const CString& tag) {
    auto id = kvbidi::idBytes(kvbidi::kPropertyTagVar);
    return bidiSetOMVar(id.data(), const_cast<char*>(tag.data()), tag.size());
}

long KVPrtObj::bidiGetAvailablePorts(int n, int* flags) {
    if (flags == nullptr) return kvpo::kNullArgument;
    const unsigned ports = n > 0 ? static_cast<unsigned>(n) : 0;
    std::fill_n(flags, ports, 0);

    auto [rc, reply] = kvpo::ask(*this, kvbidi::kAvailablePorts, {}, {.bForce = 1});
    if (!reply) return rc;
    // A count byte, then that many port numbers (as many as the reply holds).
    auto r = reply.reader();
    size_t listed = r.u8();
    listed = std::min(listed, r.remaining());
    for (size_t i = 0; i < listed; ++i) {
        unsigned port = r.u8();
        if (port < ports) flags[port] = 1;
    }
    return rc;
}

long KVPrtObj::bidiLoopBack() {
    return kvpo::ask(*this, kvbidi::kLoopBack, {}, {.bForce = 1}).rc;
}

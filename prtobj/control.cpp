// Control commands and page counts.
#include "prtobj/internal/ask.h"

long KVPrtObj::bidiGetPageCounts(PAGECOUNTDATA* counts) {
    *counts = PAGECOUNTDATA{};
    auto [rc, reply] = kvpo::ask(*this, kvbidi::kPageCounts);
    if (!reply) return rc;
    auto r = reply.reader();
    unsigned entries = r.u8();
    for (unsigned i = 0; i < entries && r.has(5); ++i) {   // only entries wholly within the reply
        unsigned type = r.u8();
        uint32_t count = r.be32();
        if (type == 1) counts->dwPageCountType1 = count;
        else if (type == 2) counts->dwPageCountType2 = count;
        else if (type == 4) counts->dwPageCountType4 = count;
    }
    return rc;
}

long KVPrtObj::bidiResetHostPageCount() { return kvpo::tell(*this, kvbidi::kResetHostPageCount); }

long KVPrtObj::bidiPORPrinter() {
    unsigned char data[1] = {0x01};
    return kvpo::tell(*this, kvbidi::kPowerOnReset, data);
}

long KVPrtObj::bidiResetNVRAM() {
    unsigned char data[1] = {0x00};
    return kvpo::tell(*this, kvbidi::kResetNVRAM, data);
}

namespace {
// Request 0x8D; the reply's bytes 1 and 2 must be `echo`.
long remoteOnOffline(KVPrtObj& printer, std::span<unsigned char> data, const unsigned char echo[2]) {
    auto [rc, reply] = kvpo::ask(printer, kvbidi::kRemoteOnOffline, data);
    if (!reply) return rc;
    const unsigned char* b = reply.bytes();
    if (reply.length < 3 || b[1] != echo[0] || b[2] != echo[1]) return kvpo::kNoEcho;
    return BCE_OK;
}
}  // namespace

long KVPrtObj::SendRemoteOffline() {
    unsigned char data[2] = {0x01, 0x03};
    static constexpr unsigned char echo[2] = {0x01, 0x01};
    return remoteOnOffline(*this, data, echo);
}

long KVPrtObj::SendRemoteOnline() {
    unsigned char data[1] = {0x00};
    static constexpr unsigned char echo[2] = {0x00, 0x01};
    return remoteOnOffline(*this, data, echo);
}

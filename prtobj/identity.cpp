// Printer identity and addressing: engine information calls and the printer
// type and family as the printer reports them.
#include <cstdio>

#include "kvprtobj/prtobj.h"
#include "prtobj/internal/ask.h"

namespace {
unsigned long mapPrinterType(unsigned v) {
    if (v == 0 || v == 2 || v == 3) return KVPrtObj::PRINTER_TYPE_0;
    if (v >= 5 && v <= 8) return KVPrtObj::PRINTER_TYPE_1;
    return KVPrtObj::PRINTER_TYPE_UNKNOWN;   // 1, 4 and above 8
}
}  // namespace

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"   // results declared constant, kept as declared
const long KVPrtObj::getPrinterInfo(PRTINFO* info) const { return BceGetPrtInfo(m_usBceHandle, info, 0); }

long KVPrtObj::bidiGetPrinterInfo(PRTINFO* info) { return BceGetPrtInfo(m_usBceHandle, info, 1); }

const long KVPrtObj::getBCENetAddress(NETADDRESS_LEVEL2* address, unsigned int netType) const {
    return BceGetPrinterAddrEx(m_usBceHandle, netType, address, 2);
}

const KVPrtObj::KVNETACCESSLEVEL KVPrtObj::getNetAccessLevel(unsigned int value) const {
    return BceIsUserAdmin(value) != 0 ? KVNET_ADMINISTRATOR : KVNET_USER;
}
#pragma GCC diagnostic pop

long KVPrtObj::bidiGetPrinterType(unsigned long* type, unsigned long* rawType) {
    auto [rc, value] = kvpo::readMiscVariable(*this, kvbidi::kPrinterTypeVar);
    if (rc != BCE_OK) return rc;
    if (!value || value.length == 0) return kvpo::kShortReply;
    unsigned v = value.bytes()[0];
    *rawType = v;
    *type = mapPrinterType(v);
    return BCE_OK;
}

long KVPrtObj::bidiGetPrinterFamily(unsigned long* family) {
    unsigned long raw = 0;
    long rc = bidiGetPrinterType(family, &raw);
    if (rc != BCE_E_INVALID) return rc;
    auto [read, value] = kvpo::readMiscVariable(*this, kvbidi::kPrinterFamilyVar, 1);
    if (value && value.length > 0) *family = value.bytes()[0];
    return read;
}

void parseAdapterAddress(unsigned char* address, CString* text) {
    char digits[13];
    for (int i = 0; i < 6; ++i) std::snprintf(digits + 2 * i, 3, "%02X", address[i]);
    *text = digits;
}

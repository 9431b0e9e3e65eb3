// Capability discovery: what the engine's printer information says about how
// the printer is attached and reached. It sends no bidi request.
#include <cctype>
#include <cstdio>
#include <cstring>
#include <memory>

#include "engine/c_boundary.h"
#include "kvprtobj/fw_settings.h"
#include "kvprtobj/helpers.h"
#include "kvprtobj/prtobj.h"
#include "prtobj/internal/net_types.h"

namespace {

constexpr size_t kNameSize = 80;   // BceGetPrinterName's buffers

bool startsWithNoCase(const char* text, const char* prefix) {
    for (size_t i = 0; prefix[i]; ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

using enum kvrec::CONNECTIONKIND;

kvrec::CONNECTIONKIND localConnectionKind(const char* port) {
    if (startsWithNoCase(port, "COM")) return CONN_LOCAL_COM;
    if (startsWithNoCase(port, "LPT")) return CONN_LOCAL_LPT;
    return CONN_LOCAL_OTHER;
}

kvrec::CONNECTIONKIND networkConnectionKind(unsigned code, unsigned subCode) {
    switch (code) {
    case 0: return CONN_NET_00;
    case 1: return CONN_NET_01;
    case 2:
    case 4:
        if (subCode == 1) return CONN_NET_02_SUB1;
        if (subCode == 2) return CONN_NET_02_SUB2;
        if (subCode == 257) return CONN_NET_02_SUB257;
        return CONN_UNKNOWN;
    case 8:
        if (subCode == 1 || subCode == 2) return CONN_NET_08_SUB1;
        if (subCode == 257) return CONN_NET_08_SUB257;
        return CONN_UNKNOWN;
    case 16: return CONN_NET_10;
    case 32: return CONN_NET_20;
    case 64: return CONN_NET_40;
    default: return CONN_UNKNOWN;
    }
}

// The network types a partner-only installation can reach a printer over.
constexpr uint32_t kPartnerProtocols =
    kvpo::protocolBit(BCE_NET_01) | kvpo::protocolBit(BCE_NET_IP) | kvpo::protocolBit(BCE_NET_10);

// Lists the LPT ports captured to the printer that have a live connection.
int listCapturedPorts(uint32_t attachment, CString* text) {
    int count = 0;
    for (int n = 1; n <= 9; ++n) {
        if ((attachment & (PRTINFO_CAPTURED_LPT1 << (n - 1))) == 0) continue;
        char device[16];
        std::snprintf(device, sizeof device, "%s%1d:", "LPT", n);
        char remote[256];
        DWORD length = sizeof remote;
        if (WNetGetConnectionA(device, remote, &length) != NO_ERROR) continue;
        ++count;
        remote[sizeof remote - 1] = '\0';
        *text += CString(text->empty() ? "" : ", ") + device + "  (" + remote + ")";
    }
    return count;
}

using Caps = KVPrtObj::BIDICAPABILITIES;

constexpr uint32_t kCapturedPorts = 0x1FFu * PRTINFO_CAPTURED_LPT1;   // LPT1..LPT9
// The adapter address is kept for a printer reachable over any network type but BCE_NET_10.
constexpr uint32_t kAdapterProtocols = 0xFFu & ~kvpo::protocolBit(BCE_NET_10);
// Status flags that discovery never reports.
constexpr uint32_t kUnreportedStatusFlags = 0x6;

// The addresses of the printer, one per kind its attachment announces.
struct AddressKind {
    uint32_t attachmentBit;
    unsigned int netType;
    const char* tag;
};
constexpr AddressKind kAddressKinds[] = {
    {PRTINFO_HAS_IP, BCE_NET_IP, "[IP]"}, {PRTINFO_HAS_IPX, BCE_NET_IPX, "[IPX]"}, {PRTINFO_HAS_DLC, BCE_NET_DLC, "[DLC]"}};

// The printer's names, asked for in this order for each network type it can
// be reached over; a later name replaces an earlier one in the same field.
struct NameLookup {
    unsigned int netType;
    CString Caps::*field;
};
constexpr NameLookup kNames[] = {
    {BCE_NET_01, &Caps::strNetName1}, {BCE_NET_IPX, &Caps::strNetName3}, {BCE_NET_40, &Caps::strNetName3},
    {BCE_NET_08, &Caps::strNetName3}, {BCE_NET_DLC, &Caps::strNetName3}, {BCE_NET_IP, &Caps::strNetName2},
    {BCE_NET_80, &Caps::strNetName2}};

uint32_t protocolsOf(uint32_t attachment) {
    uint32_t protocols = 0;
    for (unsigned int netType : kvpo::kProtocolNetTypes)
        if (attachment & netType) protocols |= kvpo::protocolBit(netType);
    return protocols;
}

// Lists the addresses into strAddresses; true when an IP address was found,
// whose name then stands in strNetName2.
bool listAddresses(unsigned short handle, uint32_t attachment, Caps& caps) {
    bool ipFound = false;
    for (const auto& kind : kAddressKinds) {
        if ((attachment & kind.attachmentBit) == 0) continue;
        char name[kNameSize] = {}, address[kNameSize] = {};
        if (BceGetPrinterName(handle, kind.netType, name, address) != BCE_OK) continue;
        name[kNameSize - 1] = address[kNameSize - 1] = '\0';
        CString entry = CString(kind.tag) + "  " + address;
        caps.strAddresses = caps.nAddressCount == 0 ? entry : caps.strAddresses + ", " + entry;
        ++caps.nAddressCount;
        if (kind.netType == BCE_NET_IP) {
            caps.strNetName2 = name;
            ipFound = true;
        }
    }
    return ipFound;
}

void readNames(unsigned short handle, bool ipFound, Caps& caps) {
    for (const auto& lookup : kNames) {
        if ((caps.dwProtocols & kvpo::protocolBit(lookup.netType)) == 0) continue;
        if (lookup.field == &Caps::strNetName2 && ipFound) continue;
        char name[kNameSize] = {}, address[kNameSize] = {};
        if (BceGetPrinterName(handle, lookup.netType, name, address) != BCE_OK) continue;
        name[kNameSize - 1] = '\0';
        caps.*lookup.field = name;
    }
}

// A printer attached over a network: how, over which types, its captured
// ports, addresses, names and adapter address.
void discoverNetwork(unsigned short handle, PRTINFO& info, Caps& caps) {
    const uint32_t attachment = info.ulAttachment;
    caps.nConnectionKind = networkConnectionKind(info.usNetTypeCode, info.usNetSubCode);
    caps.dwProtocols = protocolsOf(attachment);
    caps.bInfoFlag15 = (info.usFlags >> 15) & 1;
    if (attachment & kCapturedPorts) {
        caps.bHasCapturedPorts = 1;
        caps.nCapturedPorts = listCapturedPorts(attachment, &caps.strCapturedPorts);
    }
    readNames(handle, listAddresses(handle, attachment, caps), caps);
    caps.strAdapterAddress.clear();
    if (caps.dwProtocols & kAdapterProtocols) parseAdapterAddress(info.abAdapterAddress, &caps.strAdapterAddress);
}

}  // namespace

long KVPrtObj::bidiQueryCaps(BIDICAPABILITIES* caps, int bRefresh) {
    *caps = BIDICAPABILITIES{};
    PRTINFO info{};
    long rc = bRefresh ? bidiGetPrinterInfo(&info) : getPrinterInfo(&info);
    if (caps == &m_caps) m_lBidiFailure = rc;   // this object's discovery: a failed read is why bidi is down
    if (rc == BCE_OK) {
        char port[sizeof info.szPortName + 1] = {};
        std::memcpy(port, info.szPortName, sizeof info.szPortName);   // terminated even if the engine did not
        if (port[0] != '\0') caps->strPortName = port;
        const bool bidiCapable = (info.usFlags & PRTINFO_BIDI_CAPABLE) != 0;
        caps->bBidiActive = bidiCapable ? 1 : 0;
        caps->dwStatusFlags = bidiCapable ? 1 : 0;
        if (info.ulAttachment & PRTINFO_LOCAL_PORT)
            caps->nConnectionKind = localConnectionKind(port);
        else
            discoverNetwork(m_usBceHandle, info, *caps);
    }
    caps->dwStatusFlags &= ~kUnreportedStatusFlags;
    return BCE_OK;
}

#pragma GCC diagnostic push
#pragma GCC diagnostic ignored "-Wignored-qualifiers"   // results declared constant, kept as declared
const int KVPrtObj::getBidiCaps(BIDICAPABILITIES* caps) const {
    if (!m_bCapsValid) return 0;
    *caps = m_caps;
    return 1;
}
#pragma GCC diagnostic pop

int KVPrtObj::validVelkorProtocols() {
    BIDICAPABILITIES caps;
    if (!getBidiCaps(&caps)) return 0;
    if (caps.nConnectionKind >= CONN_LOCAL_LPT && caps.nConnectionKind <= CONN_LOCAL_OTHER) return 1;
    return (caps.dwProtocols & kPartnerProtocols) ? 1 : 0;
}

KVPrtObj* CreatePrinterObject(unsigned short handle, short appId, unsigned long printerType) {
    return kvpo::cBoundary(nullptr, [&]() -> KVPrtObj* {
        if (printerType != KVPrtObj::PRINTER_TYPE_0 && printerType != KVPrtObj::PRINTER_TYPE_1 &&
            printerType != KVPrtObj::PRINTER_TYPE_UNKNOWN)
            return nullptr;
        if (IsVelkorOnlyInstall()) printerType = KVPrtObj::PRINTER_TYPE_UNKNOWN;
        std::unique_ptr<KVPrtObj> printer(new (std::nothrow) KVPrtObj(handle, printerType, 1));
        if (!printer) return nullptr;
        if (IsVelkorOnlyInstall() && printer->validVelkorProtocols() == 0) return nullptr;
        printer->setBceAppId(appId);
        return printer.release();
    });
}

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

namespace {

// Network types in the order of the dwProtocols bits 0..7.
constexpr uint32_t kProtocolNetTypes[] = {0x01, 0x02, 0x80, 0x04, 0x40, 0x20, 0x08, 0x10};

constexpr size_t kNameSize = 80;   // BceGetPrinterName's buffers

bool startsWithNoCase(const char* text, const char* prefix) {
    for (size_t i = 0; prefix[i]; ++i)
        if (std::toupper(static_cast<unsigned char>(text[i])) != prefix[i]) return false;
    return true;
}

int localConnectionKind(const char* port) {
    if (startsWithNoCase(port, "COM")) return 2;
    if (startsWithNoCase(port, "LPT")) return 1;
    return 3;
}

int networkConnectionKind(unsigned code, unsigned subCode) {
    switch (code) {
    case 0: return 13;
    case 1: return 9;
    case 2:
    case 4:
        if (subCode == 1) return 4;
        if (subCode == 2) return 5;
        if (subCode == 257) return 6;
        return 0;
    case 8:
        if (subCode == 1 || subCode == 2) return 7;
        if (subCode == 257) return 8;
        return 0;
    case 16: return 10;
    case 32: return 12;
    case 64: return 11;
    default: return 0;
    }
}

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
        char entry[sizeof device + sizeof remote + 8];
        std::snprintf(entry, sizeof entry, "%s  (%s)", device, remote);
        if (!text->empty()) *text += ", ";
        *text += entry;
    }
    return count;
}

}  // namespace

long KVPrtObj::bidiQueryCaps(BIDICAPABILITIES* caps, int bRefresh) {
    *caps = BIDICAPABILITIES{};
    PRTINFO info{};
    long rc = bRefresh ? bidiGetPrinterInfo(&info) : getPrinterInfo(&info);
    if (caps == &m_caps) m_lBidiFailure = rc;   // this object's discovery: a failed read is why bidi is down
    if (rc == 0) {
        char port[sizeof info.szPortName + 1] = {};
        std::memcpy(port, info.szPortName, sizeof info.szPortName);   // terminated even if the engine did not
        if (port[0] != '\0') caps->strPortName = port;

        bool bidiCapable = (info.usFlags & PRTINFO_BIDI_CAPABLE) != 0;
        caps->bBidiActive = bidiCapable ? 1 : 0;
        caps->dwStatusFlags = bidiCapable ? 1 : 0;

        uint32_t attachment = info.ulAttachment;
        if (attachment & PRTINFO_LOCAL_PORT) {
            caps->nConnectionKind = localConnectionKind(port);
        } else {
            caps->nConnectionKind = networkConnectionKind(info.usNetTypeCode, info.usNetSubCode);
            for (unsigned bit = 0; bit < 8; ++bit)
                if (attachment & kProtocolNetTypes[bit]) caps->dwProtocols |= 1u << bit;
            caps->bInfoFlag15 = (info.usFlags >> 15) & 1;
            if (attachment & (0x1FFu * PRTINFO_CAPTURED_LPT1)) {
                caps->bHasCapturedPorts = 1;
                caps->nCapturedPorts = listCapturedPorts(attachment, &caps->strCapturedPorts);
            }

            struct AddressKind {
                uint32_t bit;
                unsigned int netType;
                const char* tag;
            };
            static constexpr AddressKind kAddressKinds[] = {
                {PRTINFO_HAS_IP, 0x02, "[IP]"}, {PRTINFO_HAS_IPX, 0x04, "[IPX]"}, {PRTINFO_HAS_DLC, 0x20, "[DLC]"}};
            bool ipFound = false;
            for (const auto& kind : kAddressKinds) {
                if ((attachment & kind.bit) == 0) continue;
                char name[kNameSize] = {}, address[kNameSize] = {};
                if (BceGetPrinterName(m_usBceHandle, kind.netType, name, address) != 0) continue;
                name[kNameSize - 1] = address[kNameSize - 1] = '\0';
                CString entry = CString(kind.tag) + "  " + address;
                caps->strAddresses = caps->nAddressCount == 0 ? entry : caps->strAddresses + ", " + entry;
                ++caps->nAddressCount;
                if (kind.netType == 0x02) {
                    caps->strNetName2 = name;
                    ipFound = true;
                }
            }

            struct NameLookup {
                unsigned bit;
                unsigned int netType;
                CString BIDICAPABILITIES::*field;
            };
            static constexpr NameLookup kNames[] = {
                {0, 0x01, &BIDICAPABILITIES::strNetName1}, {3, 0x04, &BIDICAPABILITIES::strNetName3},
                {4, 0x40, &BIDICAPABILITIES::strNetName3}, {6, 0x08, &BIDICAPABILITIES::strNetName3},
                {5, 0x20, &BIDICAPABILITIES::strNetName3}, {1, 0x02, &BIDICAPABILITIES::strNetName2},
                {2, 0x80, &BIDICAPABILITIES::strNetName2}};
            for (const auto& lookup : kNames) {
                if ((caps->dwProtocols & (1u << lookup.bit)) == 0) continue;
                if (lookup.field == &BIDICAPABILITIES::strNetName2 && ipFound) continue;
                char name[kNameSize] = {}, address[kNameSize] = {};
                if (BceGetPrinterName(m_usBceHandle, lookup.netType, name, address) != 0) continue;
                name[kNameSize - 1] = '\0';
                caps->*lookup.field = name;
            }

            caps->strAdapterAddress.clear();
            if (caps->dwProtocols & 0x7F) parseAdapterAddress(info.abAdapterAddress, &caps->strAdapterAddress);
        }
    }
    caps->dwStatusFlags &= ~0x6u;
    return 0;
}

int KVPrtObj::getBidiCaps(BIDICAPABILITIES* caps) const {
    if (!m_bCapsValid) return 0;
    *caps = m_caps;
    return 1;
}

int KVPrtObj::validVelkorProtocols() {
    BIDICAPABILITIES caps;
    if (!getBidiCaps(&caps)) return 0;
    if (caps.nConnectionKind >= 1 && caps.nConnectionKind <= 3) return 1;
    return (caps.dwProtocols & (0x01 | 0x02 | 0x80)) ? 1 : 0;
}

KVPrtObj* CreatePrinterObject(unsigned short handle, short appId, unsigned long printerType) {
    return kvpo::cBoundary(nullptr, [&]() -> KVPrtObj* {
        if (printerType != 0 && printerType != 1 && printerType != 0xFFFFFFFF) return nullptr;
        if (IsVelkorOnlyInstall()) printerType = 0xFFFFFFFF;
        std::unique_ptr<KVPrtObj> printer(new (std::nothrow) KVPrtObj(handle, printerType, 1));
        if (!printer) return nullptr;
        if (IsVelkorOnlyInstall() && printer->validVelkorProtocols() == 0) return nullptr;
        printer->setBceAppId(appId);
        return printer.release();
    });
}

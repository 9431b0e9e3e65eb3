// Records of the printer object: capabilities, identity, page counts and
// variables (prtobj/), in namespace kvrec;
// KVPrtObj re-exports each as its own nested name (KVPrtObj::INPUTBIN).
#pragma once

#include <cstdint>

#include "kvprtobj/fw_base.h"

// One variable of a multiple read of object-model variables.
struct KVPO_API _MULTIOMVAR {
    uint16_t id;          // the two id bytes as they stand in the reply (most significant first in memory)
    uint8_t length;       // number of meaningful value bytes, at most 33
    uint8_t value[33];
};

namespace kvrec {

// How a printer is attached (BIDICAPABILITIES::nConnectionKind), as discovery
// finds it: a local port by its name, a network printer by the network type
// code and sub-code of its printer information (PRTINFO).
enum CONNECTIONKIND : int {
    CONN_UNKNOWN = 0,          // a network code and sub-code without a kind of their own
    CONN_LOCAL_LPT = 1,        // a local port whose name begins LPT
    CONN_LOCAL_COM = 2,        // a local port whose name begins COM
    CONN_LOCAL_OTHER = 3,      // any other local port
    CONN_NET_02_SUB1 = 4,      // network code 2 or 4, sub-code 1
    CONN_NET_02_SUB2 = 5,      // network code 2 or 4, sub-code 2
    CONN_NET_02_SUB257 = 6,    // network code 2 or 4, sub-code 257
    CONN_NET_08_SUB1 = 7,      // network code 8, sub-code 1 or 2
    CONN_NET_08_SUB257 = 8,    // network code 8, sub-code 257
    CONN_NET_01 = 9,           // network code 1
    CONN_NET_10 = 10,          // network code 16
    CONN_NET_40 = 11,          // network code 64
    CONN_NET_20 = 12,          // network code 32
    CONN_NET_00 = 13,          // network code 0
};

// Capabilities as found by discovery (bidiQueryCaps).
struct KVPO_API BIDICAPABILITIES {
    int bBidiActive = 0;         // the bidi-active flag; moved by the transport afterwards
    int bInfoFlag15 = 0;         // bit 15 of the printer information's flags
    int bHasCapturedPorts = 0;   // some LPT port of this computer is captured to the printer
    int nConnectionKind = CONN_UNKNOWN;   // how the printer is attached (CONNECTIONKIND)
    uint32_t dwStatusFlags = 0;  // bit 0: bidi-capable per discovery
    uint32_t dwProtocols = 0;    // bits 0..7: network types 0x01 0x02 0x80 0x04 0x40 0x20 0x08 0x10
    int nCapturedPorts = 0;      // captured LPT ports with a live connection
    int nAddressCount = 0;       // entries in strAddresses, 0..3
    CString strPortName;
    CString strAdapterAddress;   // 12 upper-case hexadecimal digits, or empty
    CString strNetName1;         // name for network type 0x01
    CString strNetName2;         // name for network type 0x02 (or 0x80)
    CString strNetName3;         // name for network type 0x04, 0x40, 0x08 or 0x20
    CString strCapturedPorts;    // "LPT1:  (remote), ..."
    CString strAddresses;        // "[IP]  a.b.c.d, [IPX]  ..., [DLC]  ..."
};

// Type of printer settings file that suits this printer (setPrinterType).
enum PSFTYPES { PSF_NONE = 0, PSF_TYPE0_FILE = 1, PSF_TYPE1_FILE = 2 };

enum KVNETACCESSLEVEL { KVNET_USER = 1, KVNET_ADMINISTRATOR = 2 };

// Page counters of bidiGetPageCounts; type 3 is never filled.
struct KVPO_API PAGECOUNTDATA {
    uint32_t dwPageCountType1 = 0;
    uint32_t dwPageCountType2 = 0;
    uint32_t dwPageCountType3 = 0;
    uint32_t dwPageCountType4 = 0;
};

}  // namespace kvrec

// Records of alerts and status (alerts/), in namespace kvrec;
// KVPrtObj re-exports each as its own nested name (KVPrtObj::INPUTBIN).
//
// The alert families of KVPrtObj. List forms set `*count` 0 and `*list` null, then hand
// back the alerts of the reply (the caller releases the list with
// ::operator delete); summary forms clear their own bits of `*alerts` and
// set them from the reply, and return -18 for a null record without
// sending anything. A failed request is returned unchanged, with the list
// empty or the record untouched.
//
// Replies are decoded only as far as they go: records are read in order
// up to the first one that does not lie wholly within the reply (its
// bytes and, where the record carries them, its extra bytes); that record
// and all after it are left out, whatever the record count claims, and the
// result stays 0. The configuration-change list reports a reply shorter
// than its count and first extra length promise as the single alert 6201.
#pragma once

#include <cstdint>

#include "kvprtobj/fw_base.h"

namespace kvrec {

// One alert of an alert list: an identifier from 6102 to 6257 (the host
// keeps the texts) and the value that qualifies it, as a rule the number of
// the tray, bin or supply the alert names. Alert lists are contiguous
// arrays made with ::operator new and released with ::operator delete;
// an empty list is a null pointer with count 0.
struct KVPO_API KVPALERTDATA {
    uint16_t usAlertId;
    uint16_t usAlertValue;
};
static_assert(sizeof(KVPALERTDATA) == 4);

// The summary forms of the alert families fold their replies into one
// client-owned word (the client initialises all 32 bits, e.g. with memset);
// each summary clears only its own bits, then sets them.
// Bit 6 is cleared by the paper-jam summary, bits 9 and 15..31 are touched
// by no operation.
struct KVPO_API PRTALERTS {
    uint32_t bConfigChanged : 1;      //  0 configuration change: the reply holds a record
    uint32_t bAlert6102 : 1;          //  1 operator intervention 03 01 01 or 03 FF 01
    uint32_t bAlert6103 : 1;          //  2 operator intervention 04 FF 01
    uint32_t bJamCategory4 : 1;       //  3 paper jams: a record of category 4
    uint32_t bJamCategory1 : 1;       //  4 ... category 1
    uint32_t bJamCategory3 : 1;       //  5 ... category 3
    uint32_t : 1;                     //  6
    uint32_t bJamCategory2 : 1;       //  7 ... category 2
    uint32_t bInputStateZero : 1;     //  8 input status: a present source with state value 0
    uint32_t : 1;                     //  9
    uint32_t bOutputStateSeven : 1;   // 10 output status: a bin with state value 7
    uint32_t bServiceCategory3 : 1;   // 11 service required: a record of category 3
    uint32_t bSuppliesCategory8 : 1;  // 12 warnings, supplies: a record of category 8
    uint32_t bInputStatusFlag : 1;    // 13 input status: a present source with the status flag
    uint32_t bOtherIntervention : 1;  // 14 operator intervention: the last record is not recognised
    uint32_t : 17;
};
static_assert(sizeof(PRTALERTS) == 4);

// Filled by the operator-intervention summary, which zeroes it first: bit n
// is set by the record the list form reports as alert 6119 + n.
struct KVPO_API UIRALERTS {
    uint32_t bAlert6119 : 1;  // 03 06 FF
    uint32_t bAlert6120 : 1;  // 03 04 FF
    uint32_t bAlert6121 : 1;  // 01 04 FF
    uint32_t bAlert6122 : 1;  // 01 05 FF
    uint32_t bAlert6123 : 1;  // 04 01 FF
    uint32_t bAlert6124 : 1;  // 03 02 FF
    uint32_t bAlert6125 : 1;  // 03 0C FF
    uint32_t bAlert6126 : 1;  // 03 0A FF
    uint32_t bAlert6127 : 1;  // 01 03 FF
    uint32_t bAlert6128 : 1;  // 04 02 FF
    uint32_t bAlert6129 : 1;  // 03 07 FF
    uint32_t bAlert6130 : 1;  // 03 03 FF
    uint32_t bAlert6131 : 1;  // 03 05 FF
    uint32_t bAlert6132 : 1;  // 03 0D FF
    uint32_t bAlert6133 : 1;  // 01 02 FF
    uint32_t bAlert6134 : 1;  // 03 01 FF
    uint32_t bAlert6135 : 1;  // 03 16 FF (not 03 0E FF or 03 19 FF)
    uint32_t bAlert6136 : 1;  // 03 09 FF
    uint32_t bAlert6137 : 1;  // 01 01 FF
    uint32_t bAlert6138 : 1;  // 03 0B FF
    uint32_t bAlert6139 : 1;  // 03 08 FF
    uint32_t : 11;
};
static_assert(sizeof(UIRALERTS) == 4);

// One snapshot of the operator panel; created by bidiROPQueryData and
// bidiROPQueryAlert, released by the client with delete. The dimensions
// stay 0 until a text is decoded.
struct KVPO_API OPPANELDATA {
    int32_t nPanelWidth = 0;    // characters per line (the object's m_nPanelWidth)
    int32_t nPanelHeight = 0;   // lines (the object's m_nPanelHeight)
    CString strPanelText;       // line after line, ISO 8859-1, up to the first zero byte
};

// Device status, client-owned: bits 0..10 are replaced by every decode,
// bits 11..31 keep what the client set.
struct KVPO_API PRINTERSTATUS {
    uint32_t uStatusByte0Bit0 : 1;     // bit 0 of status byte 0
    uint32_t uStatusByte0Bits67 : 2;   // bits 6..7 of status byte 0
    uint32_t uStatusByte1 : 4;         // bits 0..3 of status byte 1
    uint32_t uStatusByte2 : 4;         // bits 0..3 of status byte 2
    uint32_t : 21;
};
static_assert(sizeof(PRINTERSTATUS) == 4);

// An object-model variable event (bidiQueryOMVarEventAlert). Fields the
// event type does not name keep their values.
struct KVPO_API OMVAREVENTDATA {
    uint8_t byEventType = 0;      // 9: variable value; 12: single value byte
    uint8_t byValue = 0;          // type 12: the value byte
    uint8_t abyVarId[2] = {};     // type 9: the variable id, most significant byte first
    uint8_t* pbyData = nullptr;   // type 9: a copy of the value bytes (::operator new; the
                                  // client releases it with ::operator delete); no length is kept
};

}  // namespace kvrec

// Job-status alerts (KVPrtObj::bidiJSQueryAlert): a header of small numbers,
// counters per input source, the job-information items, a free text and, for
// data version 3, a list of numbered values. The printer gives the meaning of
// the header words, the status byte, the counters and the values.
//
// bidiJSQueryAlert reads alert family 0x5F6 and decodes data that begin 03 01;
// other data give -2. For printer type 1 at code level 3100 or at most 3029
// (StrCodeLevelToLong of the printer object's kept code level) the first two
// counters of each input are corrected: with a and b as read, dwCounter2 = a
// and dwCounter1 = a - ((b - a) >> 1), in unsigned 32-bit arithmetic.
// Data that end before a field the object's version reads give -2 and leave
// the object untouched. Decoding into an object a second time replaces its
// input records and, when the new alert carries values, its value records; the
// job-information items add to those of the first decode.
#pragma once

#include <cstdint>

#include "kvprtobj/fw_base.h"
#include "kvprtobj/jobs.h"

class KVPrtObj;

class KVPO_API JSALERTDATA : public JOBINFOSTRINGS {
public:
    // One input source.
    struct KVPO_API JSINPUTSPECIFICDATA {
        JSINPUTSPECIFICDATA();
        ~JSINPUTSPECIFICDATA();
        uint32_t dwCounter1 = 0;   // first block; corrected for some printers (above)
        uint32_t dwCounter2 = 0;
        uint32_t dwCounter3 = 0;   // 0xFFFFFFFF in the alert reads 0
        uint32_t dwCounter4 = 0;   // second block (data version 2 and up)
        uint32_t dwCounter5 = 0;
    };

    // One numbered value (data version 3).
    struct JSVALUEDATA {
        uint8_t byValueId = 0;
        uint32_t dwValue = 0;
    };

    // `version` says how much of the alert the client takes: 2 or more adds
    // the second counter block, 3 or more the value list.
    explicit JSALERTDATA(uint32_t version);
    // The object owns its two arrays; it is not copied.
    JSALERTDATA(const JSALERTDATA&) = delete;
    JSALERTDATA& operator=(const JSALERTDATA&) = delete;
    ~JSALERTDATA();

    uint32_t m_dwVersion;
    uint16_t m_wHeaderA = 0;                     // alert byte 3
    uint16_t m_wHeaderB = 0;                     // alert bytes 4-5
    uint16_t m_wHeaderC = 0;                     // alert bytes 6-7
    uint16_t m_wInputCount = 0;                  // N
    JSINPUTSPECIFICDATA* m_pInputData = nullptr; // N + 1 records; record 0 is never filled
    uint8_t m_byValueTag = 0;                    // version 3: the byte before the value count
    uint16_t m_wValueCount = 0;                  // M; 0 when the values are not 4 bytes wide
    JSVALUEDATA* m_pValueData = nullptr;         // M + 1 records; record 0 is never filled
    uint32_t m_dwStatusByte = 0;                 // the byte before the job-information text
    CString m_strText;                           // the second text of the alert

private:
    friend class KVPrtObj;

    // Decodes `length` bytes of alert data from byte 1 on into `target` (this
    // object). Returns 0; -2 with `target` untouched when the data end before a
    // field that its version reads; -18 when an array cannot be allocated (the
    // input records, or the value list only when its array fails). A second
    // decode releases the first decode's input array, and its value array when
    // new values come (with a value count of 0 the earlier array is kept).
    __attribute__((visibility("hidden"))) long parseJSAlertData(uint32_t printerType, const CString& codeLevel,
                                                                const unsigned char* data, unsigned long length,
                                                                JSALERTDATA* target);
};

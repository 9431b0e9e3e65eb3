// The keyed items of a job-information text, as print jobs and job-status
// alerts carry them: items separated by ";", each a two-character key, one
// separator character and the value (from the item's fourth character on),
// for example "HT=host;JN=report;UR=ann".
#pragma once

#include "kvprtobj/fw_base.h"

class KVPO_API JOBINFOSTRINGS {
public:
    CString strHT;      // key HT
    CString strUR;      // key UR
    CString strSC;      // key SC
    CString strJN;      // key JN
    CString strQU;      // key QU
    CString strLS;      // key LS
    CString strOther;   // the key (not the value) of the last item with any other key

    // Splits `length` characters at `text` (fewer when a zero byte comes
    // first) into items; keys are matched ignoring case, empty items skipped.
    // strLS and strOther are emptied first; the other fields keep what they
    // hold until an item of their key comes, so a second call adds to the
    // first. An item of fewer than three characters has no value and changes
    // no field. Nothing more happens for a length of 0 or a null text.
    void parseJobInfo(unsigned char length, const char* text);
};

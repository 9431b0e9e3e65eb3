// Job-status alerts.
#include <new>

#include "kvprtobj/bidicodes.h"
#include "kvprtobj/codelevel.h"
#include "kvprtobj/jsalert.h"
#include "kvprtobj/prtobj.h"
#include "prtobj/internal/reply.h"

namespace {


// Printers of type 1 at these code levels report the first two counters of
// each input differently; the decoder corrects them.
constexpr uint32_t kCorrectedPrinterType = 1;
constexpr long kCorrectedLevel = 3100;
constexpr long kLastCorrectedLevel = 3029;   // and every level below

bool correctsCounters(uint32_t printerType, const CString& codeLevel) {
    if (printerType != kCorrectedPrinterType) return false;
    long level = StrCodeLevelToLong(codeLevel);
    return level == kCorrectedLevel || level <= kLastCorrectedLevel;
}

constexpr size_t kHeaderBytes = 5;           // header words A (1 byte), B and C (2 bytes each)
constexpr size_t kFirstBlockRecord = 12;     // three 32-bit counters
constexpr size_t kSecondBlockRecord = 10;    // 2 unread bytes, two 32-bit counters
constexpr size_t kAfterSecondText = 4;       // unread
constexpr uint8_t kWideValue = 4;            // the only value size that carries values

// True when the alert data (from byte 1 on) hold every field that a decode of
// `version` reads.
bool holdsAll(kvpo::ReplyReader r, uint32_t version) {
    r.skip(1);
    size_t inputs = r.u8();
    r.skip(kHeaderBytes + kFirstBlockRecord * inputs + 2 + 1);   // ... 2 unread bytes, the status byte
    r.skip(r.u8());                                              // job-information text
    r.skip(r.u8());                                              // second text
    r.skip(kAfterSecondText);
    if (version >= 2) r.skip(kSecondBlockRecord * inputs);
    if (version >= 3) {
        r.skip(1);
        size_t values = r.u8();
        uint8_t size = r.u8();
        if (values != 0) r.skip(size == kWideValue ? (1 + kWideValue) * values : 1);
    }
    return r.ok();
}

}  // namespace

JSALERTDATA::JSINPUTSPECIFICDATA::JSINPUTSPECIFICDATA() = default;
JSALERTDATA::JSINPUTSPECIFICDATA::~JSINPUTSPECIFICDATA() = default;

JSALERTDATA::JSALERTDATA(uint32_t version) : m_dwVersion(version) {}

JSALERTDATA::~JSALERTDATA() {
    delete[] m_pInputData;
    delete[] m_pValueData;
}

long KVPrtObj::bidiJSQueryAlert(unsigned short alertId, JSALERTDATA& data) {
    kvpo::Buffer alert;
    long rc = bidiQueryAlert(alertId, kvbidi::kJobStatusAlert, &alert.data, &alert.length, 2);
    if (rc != 0 || alert.data == nullptr) return rc;
    auto r = alert.reader();
    if (r.u8() != 0x03 || r.u8() != 0x01) return -2;
    return data.parseJSAlertData(m_dwPrinterType, m_strCodeLevel, alert.bytes() + 1, alert.length - 1, &data);
}

long JSALERTDATA::parseJSAlertData(uint32_t printerType, const CString& codeLevel, const unsigned char* data,
                                   unsigned long length, JSALERTDATA* target) {
    JSALERTDATA& d = *target;
    kvpo::ReplyReader r(data, length);
    if (!holdsAll(r, d.m_dwVersion)) return -2;

    r.skip(1);
    const uint8_t inputs = r.u8();
    auto* records = new (std::nothrow) JSINPUTSPECIFICDATA[inputs + 1];
    if (records == nullptr) return -18;
    delete[] d.m_pInputData;
    d.m_pInputData = records;
    d.m_wInputCount = inputs;
    d.m_wHeaderA = r.u8();
    d.m_wHeaderB = r.be16();
    d.m_wHeaderC = r.be16();

    const bool correct = correctsCounters(printerType, codeLevel);
    for (unsigned i = 1; i <= inputs; ++i) {
        JSINPUTSPECIFICDATA& in = records[i];
        uint32_t a = r.be32();
        uint32_t b = r.be32();
        in.dwCounter3 = r.be32();
        if (correct) {
            in.dwCounter2 = a;
            in.dwCounter1 = a - ((b - a) >> 1);   // unsigned difference, logical shift
        } else {
            in.dwCounter1 = a;
            in.dwCounter2 = b;
        }
        if (in.dwCounter3 == 0xFFFFFFFF) in.dwCounter3 = 0;
    }

    r.skip(2);
    d.m_dwStatusByte = r.u8();
    uint8_t infoLength = r.u8();
    auto info = r.sub(infoLength);
    d.parseJobInfo(infoLength, reinterpret_cast<const char*>(info.here()));
    d.m_strText = r.countedText();
    r.skip(kAfterSecondText);

    if (d.m_dwVersion >= 2) {
        for (unsigned i = 1; i <= inputs; ++i) {
            r.skip(2);
            records[i].dwCounter4 = r.be32();
            records[i].dwCounter5 = r.be32();
        }
    }

    if (d.m_dwVersion >= 3) {
        d.m_byValueTag = r.u8();
        const uint8_t values = r.u8();
        d.m_wValueCount = values;
        const uint8_t size = r.u8();
        if (values == 0) return 0;
        auto* list = new (std::nothrow) JSVALUEDATA[values + 1];
        if (list == nullptr) return -18;
        delete[] d.m_pValueData;
        d.m_pValueData = list;
        for (unsigned i = 1; i <= values; ++i) {
            list[i].byValueId = r.u8();
            if (size != kWideValue) {   // values of another size are not taken
                d.m_wValueCount = 0;
                break;
            }
            list[i].dwValue = r.be32();
        }
    }
    return 0;
}

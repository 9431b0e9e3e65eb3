// Job-status alerts.
#include <algorithm>
#include <memory>
#include <new>

#include "kvprtobj/codelevel.h"
#include "kvprtobj/jsalert.h"
#include "prtobj/internal/ask.h"

namespace {

constexpr unsigned char kJobStatusMark[] = {0x03, 0x01};   // what a job status alert begins with

// Printers of type 1 at these code levels report the first two counters of
// each input differently; the decoder corrects them.
constexpr uint32_t kCorrectedPrinterType = KVPrtObj::PRINTER_TYPE_1;
constexpr long kCorrectedLevel = 3100;
constexpr long kLastCorrectedLevel = 3029;   // and every level below

bool correctsCounters(uint32_t printerType, const CString& codeLevel) {
    if (printerType != kCorrectedPrinterType) return false;
    long level = StrCodeLevelToLong(codeLevel);
    return level == kCorrectedLevel || level <= kLastCorrectedLevel;
}

constexpr size_t kAfterSecondText = 4;       // unread
constexpr uint8_t kWideValue = 4;            // the only value size that carries values

}  // namespace

JSALERTDATA::JSINPUTSPECIFICDATA::JSINPUTSPECIFICDATA() = default;
JSALERTDATA::JSINPUTSPECIFICDATA::~JSINPUTSPECIFICDATA() = default;

JSALERTDATA::JSALERTDATA(uint32_t version) : m_dwVersion(version) {}

JSALERTDATA::~JSALERTDATA() {
    delete[] m_pInputData;
    delete[] m_pValueData;
}

long KVPrtObj::bidiJSQueryAlert(unsigned short alertId, JSALERTDATA& data) {
    auto [rc, alert] = kvpo::readAlert(*this, alertId, kvbidi::kJobStatusAlert);
    if (!alert) return rc;
    auto r = alert.reader();
    if (!r.mark(kJobStatusMark)) return kvpo::kNoEcho;
    return data.parseJSAlertData(m_dwPrinterType, m_strCodeLevel, alert.bytes() + 1, alert.length - 1, &data);
}

long JSALERTDATA::parseJSAlertData(uint32_t printerType, const CString& codeLevel, const unsigned char* data,
                                   unsigned long length, JSALERTDATA* target) {
    // Decoded into locals; the object changes only once the data held every
    // field its version reads.
    JSALERTDATA& d = *target;
    const uint32_t version = d.m_dwVersion;
    kvpo::ReplyReader r(data, length);
    r.skip(1);
    const uint8_t inputs = r.u8();
    const uint8_t headerA = r.u8();
    const uint16_t headerB = r.be16();
    const uint16_t headerC = r.be16();
    if (!r.ok()) return kvpo::kShortReply;
    std::unique_ptr<JSINPUTSPECIFICDATA[]> records(new (std::nothrow) JSINPUTSPECIFICDATA[inputs + 1]);
    if (!records) return BCE_E_NO_MEMORY;

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
    const uint8_t status = r.u8();
    const uint8_t infoLength = r.u8();
    const kvpo::ReplyReader info = r.sub(infoLength);
    CString text = r.countedText();
    r.skip(kAfterSecondText);

    if (version >= 2) {
        for (unsigned i = 1; i <= inputs; ++i) {
            r.skip(2);
            records[i].dwCounter4 = r.be32();
            records[i].dwCounter5 = r.be32();
        }
    }

    uint8_t valueTag = 0, values = 0;
    bool wide = true;
    JSVALUEDATA valueList[1 + 255];   // record 0 is never filled, as in the object's list
    if (version >= 3) {
        valueTag = r.u8();
        values = r.u8();
        wide = r.u8() == kWideValue;
        for (unsigned i = 1; i <= values; ++i) {
            valueList[i].byValueId = r.u8();
            if (!wide) break;   // values of another size are not taken
            valueList[i].dwValue = r.be32();
        }
    }
    if (!r.ok()) return kvpo::kShortReply;

    delete[] d.m_pInputData;
    d.m_pInputData = records.release();
    d.m_wInputCount = inputs;
    d.m_wHeaderA = headerA;
    d.m_wHeaderB = headerB;
    d.m_wHeaderC = headerC;
    d.m_dwStatusByte = status;
    d.parseJobInfo(infoLength, reinterpret_cast<const char*>(info.here()));
    d.m_strText = std::move(text);
    if (version < 3) return BCE_OK;

    d.m_byValueTag = valueTag;
    d.m_wValueCount = values;
    if (values == 0) return BCE_OK;
    auto* list = new (std::nothrow) JSVALUEDATA[values + 1];
    if (list == nullptr) return BCE_E_NO_MEMORY;
    std::copy(valueList + 1, valueList + 1 + values, list + 1);
    delete[] d.m_pValueData;
    d.m_pValueData = list;
    if (!wide) d.m_wValueCount = 0;
    return BCE_OK;
}

// Toner prediction: supply information from the printer or from a toner
// alert, decoded into TonerInfo records with an estimate and a gauge each.
#include <cmath>
#include <cstring>
#include <new>
#include <type_traits>

#include "kvprtobj/toner.h"
#include "engine/wire/frame.h"
#include "prtobj/internal/ask.h"

using TonerInfo = KvTonerPrediction::TonerInfo;
using TonerInfoArray = KvTonerPrediction::TonerInfoArray;

static_assert(std::is_trivially_copyable_v<TonerInfo>, "records are copied byte for byte");

namespace {

constexpr unsigned long kTonerInfoFirstBuffer = 256;

// What precedes the toner data in a reply and in an alert.
constexpr unsigned char kInfoPrefix[] = {0x02};
constexpr unsigned char kAlertPrefix[] = {0x03, 0x80, 0x01};

// `parse(bytes, length)` of the toner data after `prefix`. Unlike the other
// marks, one that differs is not a fault: 0, nothing decoded; data shorter
// than the prefix are (-2).
template <size_t N, typename Parse>
long parseAfter(const kvpo::Buffer& data, const unsigned char (&prefix)[N], Parse&& parse) {
    auto r = data.reader();
    if (!r.has(N)) return kvpo::kShortReply;
    if (!r.mark(prefix)) return BCE_OK;
    return parse(r.here(), r.remaining());
}

constexpr uint8_t kLevelMask = 0x7F;
constexpr uint8_t kTopGauge = 94;
constexpr uint32_t kGaugeSpan = 80;

// Format 1: 35 bytes and a counted field.
void decodeFormat1(kvpo::ReplyReader& r, uint8_t common, TonerInfo& t) {
    t.bySupplyId = r.u8();
    t.byAttribute = common;
    t.ulValueA = r.be32();
    t.ulPageCount = r.be32();
    t.ulBasePageCount = r.be32();
    t.ulValueB = r.be32();
    t.byLevelCount = r.u8();
    t.byLevel = r.u8();
    t.byValueC = r.u8();
    r.skip(r.u8());
    t.ulValueD = r.be32();
    t.ulAdjustHigh = r.be16();
    t.ulAdjustLow = r.be16();
    t.ulStepHigh = r.be16();
    t.ulStepLow = r.be16();
    t.ulStep = r.be16();
}

// Format 2: 14 bytes; the level count and level are the low bytes of 32-bit values.
void decodeFormat2(kvpo::ReplyReader& r, TonerInfo& t) {
    t.bySupplyId = r.u8();
    t.byAttribute = r.u8();
    t.byLevelCount = static_cast<uint8_t>(r.be32() & 0xFF);
    t.byLevel = static_cast<uint8_t>(r.be32() & 0xFF);
    t.ulValueD = r.be32();
}

// The adjustment of the estimate: ulAdjustHigh at or above ulStepHigh,
// ulAdjustLow at or below ulStepLow, in between interpolated in double
// precision (the adjustment difference unsigned, the step differences signed)
// and truncated toward zero; a value outside 32 bits wraps.
uint32_t adjustment(const TonerInfo& t) {
    if (t.ulStep >= t.ulStepHigh) return t.ulAdjustHigh;
    if (t.ulStep <= t.ulStepLow) return t.ulAdjustLow;
    const double span = static_cast<uint32_t>(t.ulAdjustHigh - t.ulAdjustLow);
    const double toHigh = static_cast<int32_t>(t.ulStepHigh - t.ulStep);
    const double steps = static_cast<int32_t>(t.ulStepHigh - t.ulStepLow);
    const double adjust = std::trunc(t.ulAdjustHigh - span * toHigh / steps);
    return static_cast<uint32_t>(static_cast<int64_t>(adjust));
}

// 94 at the top step; the steps below it spread over 0..80. With two level
// steps or fewer there is nothing to spread: every step but the top shows 0.
uint8_t gauge(uint32_t level, uint8_t levelCount) {
    if (static_cast<int>(level) == levelCount - 1) return kTopGauge;
    const uint32_t below = static_cast<uint32_t>(levelCount - 2);
    if (below == 0) return 0;
    return static_cast<uint8_t>(level * kGaugeSpan / below);
}

void predict(TonerInfo& t) {
    const uint32_t level = t.byLevel & kLevelMask;
    t.lEstimate = -1;
    t.lEstimate2 = -1;
    if (t.ulStep != 0) {
        const uint32_t used = t.ulPageCount - t.ulBasePageCount;
        const auto estimate = static_cast<int32_t>(level * t.ulStep - used + adjustment(t));
        t.lEstimate = estimate < 0 ? 0 : estimate;
    }
    t.byGauge1 = t.byGauge2 = gauge(level, t.byLevelCount);
}

}  // namespace

// ---- TonerInfoArray ----

TonerInfoArray::TonerInfoArray(const TonerInfoArray& other) { *this = other; }

TonerInfoArray& TonerInfoArray::operator=(const TonerInfoArray& other) {
    if (this == &other) return *this;
    allocateArray(other.m_nSupplies);
    if (m_nSupplies != 0) std::memcpy(m_pInfo, other.m_pInfo, m_nSupplies * sizeof(TonerInfo));
    return *this;
}

TonerInfoArray::~TonerInfoArray() { ::operator delete(m_pInfo); }

unsigned int TonerInfoArray::numSupplies() const { return m_nSupplies; }

TonerInfo* TonerInfoArray::operator[](unsigned int index) { return m_pInfo + index; }

void TonerInfoArray::allocateArray(unsigned int count) {
    ::operator delete(m_pInfo);
    m_pInfo = nullptr;
    m_nSupplies = 0;
    if (count == 0) return;
    m_pInfo = static_cast<TonerInfo*>(::operator new(count * sizeof(TonerInfo)));
    for (unsigned int i = 0; i < count; ++i) new (m_pInfo + i) TonerInfo{};
    m_nSupplies = count;
}

// ---- KvTonerPrediction ----

KvTonerPrediction::KvTonerPrediction(KVPrtObj* printer) : m_pPrtObj(printer) {}

long KvTonerPrediction::bidiQueryTonerInfo(TonerInfoArray& info) {
    unsigned char request[1] = {0x00};
    auto [rc, reply] = kvpo::ask(*m_pPrtObj, kvbidi::kTonerInfo, request, {.firstSize = kTonerInfoFirstBuffer});
    if (!reply) return rc;
    return parseAfter(reply, kInfoPrefix, [&](auto* bytes, unsigned long n) { return parseTonerData(bytes, n, info); });
}

long KvTonerPrediction::GetTonerAlertData(unsigned short alertId, TonerInfoArray& info) {
    kvpo::Buffer alert;
    unsigned char* data = nullptr;
    long rc = m_pPrtObj->bidiQueryTonerAlert(alertId, data, alert.length);
    alert.data = data;
    if (rc != BCE_OK || alert.data == nullptr) return rc;
    return parseAfter(alert, kAlertPrefix, [&](auto* bytes, unsigned long n) { return parseTonerData(bytes, n, info); });
}

long KvTonerPrediction::bidiResetPageCount() {
    TonerInfoArray supplies;
    long rc = bidiQueryTonerInfo(supplies);
    if (rc != BCE_OK) return rc;
    if (supplies.numSupplies() == 0) return BCE_E_BAD_REPLY;   // no page count to write back
    const uint32_t count = supplies[0]->ulPageCount;
    auto value = kvwire::Writer().be32(count).take();
    auto id = kvbidi::idBytes(kvbidi::kTonerPageCountVar);
    return m_pPrtObj->bidiSetOMVar(id.data(), value.data(), value.size());
}

long KvTonerPrediction::parseTonerData(const unsigned char* data, unsigned long length, TonerInfoArray& info) {
    kvpo::ReplyReader r(data, length);
    r.skip(r.u8());   // leading field
    const uint8_t supplies = r.u8();
    if (!r.ok()) return kvpo::kShortReply;

    TonerInfoArray parsed;
    parsed.allocateArray(supplies);
    if (supplies != 0) {
        r.skip(1);
        const uint8_t common = r.u8();
        const uint8_t format = r.u8();
        for (unsigned int i = 0; i < supplies; ++i) {
            TonerInfo& t = *parsed[i];
            if (format == 1) {
                decodeFormat1(r, common, t);
                predict(t);
            } else if (format == 2) {
                decodeFormat2(r, t);
            }
        }
        if (!r.ok()) return kvpo::kShortReply;
    }
    info = parsed;
    return BCE_OK;
}

long KVPrtObj::bidiQueryTonerAlert(unsigned short alertId, unsigned char*& data, unsigned long& length) {
    auto [rc, alert] = kvpo::readAlert(*this, alertId, kvbidi::kTonerAlert);
    length = alert.length;
    data = static_cast<unsigned char*>(alert.release());
    return rc;
}

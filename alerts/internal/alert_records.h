// Alert records as the alert replies carry them, and the walk over a run of
// them. Every walk reads through a ReplyReader, so it stops at the end of the
// reply: a record counts only when it lies wholly within the reader.
#pragma once

#include <cstdint>
#include <optional>

#include "kvprtobj/prtobj.h"
#include "prtobj/internal/reply.h"

namespace kvpo {

// The four leading bytes of an alert record.
struct AlertRecord {
    uint8_t category = 0;
    uint8_t instance = 0;    // 0xFF: no item in particular
    uint8_t condition = 0;
    uint8_t fourth = 0;      // the extra length E, or the value byte of a supplies-status record

    // category x 65536 + instance x 256 + condition: 03 0E FF is 0x030EFF.
    uint32_t key() const { return (uint32_t{category} << 16) | (uint32_t{instance} << 8) | condition; }
};

// How the records of a run follow one another.
enum class AlertStride {
    WithExtra,   // four bytes, then the E extra bytes the fourth byte counts
    FourBytes,   // exactly four bytes (supplies status; the summaries that do not read E)
};

// The alert kinds parseAlertData knows, with the stride of their records.
constexpr unsigned kKindPaperJams = 3;
constexpr unsigned kKindOperatorIV = 4;
constexpr unsigned kKindWarnings = 5;
constexpr unsigned kKindServiceReq = 6;
constexpr unsigned kKindConfigChg = 7;
constexpr unsigned kKindSupplies = 8;
constexpr unsigned kKindSuppliesStatus = 9;

constexpr AlertStride strideOfKind(unsigned kind) {
    return kind == kKindSuppliesStatus ? AlertStride::FourBytes : AlertStride::WithExtra;
}

// Visits the first `n` records of `run` in order, stopping at the first that
// does not lie wholly within it (its extra bytes included); returns the number visited.
template <typename Visit>
unsigned forEachAlertRecord(ReplyReader run, unsigned n, AlertStride stride, Visit&& visit) {
    unsigned visited = 0;
    for (; visited < n && run.has(4); ++visited) {
        AlertRecord r;
        r.category = run.u8();
        r.instance = run.u8();
        r.condition = run.u8();
        r.fourth = run.u8();
        if (stride == AlertStride::WithExtra && !run.skip(r.fourth)) break;
        visit(r);
    }
    return visited;
}

// How many of the first `n` records lie wholly within `run`.
inline unsigned completeAlertRecords(ReplyReader run, unsigned n, AlertStride stride) {
    return forEachAlertRecord(run, n, stride, [](const AlertRecord&) {});
}

// The entry one record gives in alert kind `kind`, or none (alert_tables.cpp).
std::optional<KVPrtObj::KVPALERTDATA> alertOfRecord(unsigned kind, const AlertRecord& record);

}  // namespace kvpo

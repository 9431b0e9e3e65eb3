// The summary forms of the alert families: each folds its reply into its own
// bits of the client's PRTALERTS word (and the operator-intervention summary
// into the UIRALERTS word).
#include <iterator>

#include "alerts/internal/alert_records.h"
#include "alerts/internal/alert_requests.h"
#include "alerts/internal/bit_word.h"

namespace {

using kvpo::AlertRecord;
using kvpo::AlertStride;

// PRTALERTS bits.
constexpr uint32_t bConfigChanged = 1u << 0;
constexpr uint32_t bAlert6102 = 1u << 1;
constexpr uint32_t bAlert6103 = 1u << 2;
constexpr uint32_t bJamCategory4 = 1u << 3;
constexpr uint32_t bJamCategory1 = 1u << 4;
constexpr uint32_t bJamCategory3 = 1u << 5;
constexpr uint32_t bJamUnnamed6 = 1u << 6;
constexpr uint32_t bJamCategory2 = 1u << 7;
constexpr uint32_t bInputStateZero = 1u << 8;
constexpr uint32_t bOutputStateSeven = 1u << 10;
constexpr uint32_t bServiceCategory3 = 1u << 11;
constexpr uint32_t bSuppliesCategory8 = 1u << 12;
constexpr uint32_t bInputStatusFlag = 1u << 13;
constexpr uint32_t bOtherIntervention = 1u << 14;

// The operator-intervention keys that have a PRTALERTS bit.
struct KeyBit {
    uint32_t key;
    uint32_t bit;
};
constexpr KeyBit kInterventionAlerts[] = {{0x030101, bAlert6102}, {0x03FF01, bAlert6102}, {0x04FF01, bAlert6103}};

// UIRALERTS bit n: the operator-intervention record key of alert 6119 + n.
constexpr uint32_t kInterventionKeys[] = {
    0x0306FF, 0x0304FF, 0x0104FF, 0x0105FF, 0x0401FF, 0x0302FF, 0x030CFF, 0x030AFF, 0x0103FF, 0x0402FF, 0x0307FF,
    0x0303FF, 0x0305FF, 0x030DFF, 0x0102FF, 0x0301FF, 0x0316FF, 0x0309FF, 0x0101FF, 0x030BFF, 0x0308FF,
};
static_assert(std::size(kInterventionKeys) == 21);

uint32_t prtAlertBitOf(uint32_t key) {
    for (const KeyBit& k : kInterventionAlerts)
        if (k.key == key) return k.bit;
    return 0;
}

uint32_t interventionBitOf(uint32_t key) {
    for (size_t n = 0; n < std::size(kInterventionKeys); ++n)
        if (kInterventionKeys[n] == key) return 1u << n;
    return 0;
}

// The families whose summary sets one bit per record category.
struct CategoryBit {
    uint8_t category;
    uint32_t bit;
};
struct CategorySummary {
    unsigned short requestCode;
    uint32_t clears;          // the family's bits, cleared before the walk
    AlertStride stride;       // FourBytes: the summary does not read the extra length
    CategoryBit sets[4];
};

constexpr CategorySummary kPaperJams{kvbidi::kPaperJams,
                                     bJamCategory4 | bJamCategory1 | bJamCategory3 | bJamUnnamed6 | bJamCategory2,
                                     AlertStride::FourBytes,
                                     {{1, bJamCategory1}, {2, bJamCategory2}, {3, bJamCategory3}, {4, bJamCategory4}}};
constexpr CategorySummary kWarnings{kvbidi::kWarnings, bSuppliesCategory8, AlertStride::FourBytes,
                                    {{8, bSuppliesCategory8}}};
constexpr CategorySummary kServiceReq{kvbidi::kServiceReq, bServiceCategory3, AlertStride::WithExtra,
                                      {{3, bServiceCategory3}}};
constexpr CategorySummary kSupplies{kvbidi::kSupplies, 0, AlertStride::FourBytes, {{8, bSuppliesCategory8}}};

// Sends the family's request; on success with a reply, `fold` changes the
// word of `*record` from the reply.
template <typename Record, typename Fold>
long summarise(KVPrtObj& printer, unsigned short requestCode, Record* record, Fold&& fold) {
    if (record == nullptr) return kvpo::kNullArgument;
    auto [rc, reply] = kvpo::askFamily(printer, requestCode);
    if (!reply) return rc;
    uint32_t word = kvpo::wordOf(*record);
    fold(reply.reader(), word);
    kvpo::storeWord(*record, word);
    return rc;
}

long summariseCategories(KVPrtObj& printer, const CategorySummary& family, KVPrtObj::PRTALERTS* alerts) {
    return summarise(printer, family.requestCode, alerts, [&](kvpo::ReplyReader reply, uint32_t& word) {
        word &= ~family.clears;
        unsigned n = reply.u8();
        kvpo::forEachAlertRecord(reply, n, family.stride, [&](const AlertRecord& r) {
            for (const CategoryBit& set : family.sets)
                if (set.bit != 0 && set.category == r.category) word |= set.bit;
        });
    });
}

}  // namespace

long KVPrtObj::bidiQueryInputStatus(PRTALERTS* alerts) {
    return summarise(*this, kvbidi::kInputStatus, alerts, [](kvpo::ReplyReader reply, uint32_t& word) {
        word &= ~(bInputStateZero | bInputStatusFlag);
        kvpo::forEachStatusRecord(reply, [&](const kvpo::StatusRecord& r) {
            if (r.state() == 0 && r.present())
                word = (word | bInputStateZero) & ~bInputStatusFlag;
            else if (r.flag() && r.present())
                word |= bInputStatusFlag;
        });
    });
}

long KVPrtObj::bidiQueryOutputStatus(PRTALERTS* alerts) {
    return summarise(*this, kvbidi::kOutputStatus, alerts, [](kvpo::ReplyReader reply, uint32_t& word) {
        word &= ~bOutputStateSeven;
        kvpo::forEachStatusRecord(reply, [&](const kvpo::StatusRecord& r) {
            if (r.state() == 7) word |= bOutputStateSeven;
        });
    });
}

long KVPrtObj::bidiQueryPaperJams(PRTALERTS* alerts) { return summariseCategories(*this, kPaperJams, alerts); }

long KVPrtObj::bidiQueryWarnings(PRTALERTS* alerts) { return summariseCategories(*this, kWarnings, alerts); }

long KVPrtObj::bidiQueryServiceReq(PRTALERTS* alerts) { return summariseCategories(*this, kServiceReq, alerts); }

long KVPrtObj::bidiQuerySupplies(PRTALERTS* alerts) { return summariseCategories(*this, kSupplies, alerts); }

long KVPrtObj::bidiQueryConfigChg(PRTALERTS* alerts) {
    return summarise(*this, kvbidi::kConfigChg, alerts, [](kvpo::ReplyReader reply, uint32_t& word) {
        word &= ~bConfigChanged;
        if (reply.u8() != 0) word |= bConfigChanged;
    });
}

// Every record first counts as unrecognised (bit 14); a recognised key takes
// that back, so bit 14 ends set exactly when the last record is not recognised.
long KVPrtObj::bidiQueryOperatorIV(PRTALERTS* alerts, UIRALERTS* interventions) {
    if (interventions == nullptr) return kvpo::kNullArgument;
    return summarise(*this, kvbidi::kOperatorIV, alerts, [&](kvpo::ReplyReader reply, uint32_t& word) {
        word &= ~(bAlert6102 | bAlert6103 | bOtherIntervention);
        uint32_t uir = 0;
        unsigned n = reply.u8();
        kvpo::forEachAlertRecord(reply, n, AlertStride::WithExtra, [&](const AlertRecord& r) {
            word |= bOtherIntervention;
            if (uint32_t bit = prtAlertBitOf(r.key())) {
                word = (word & ~bOtherIntervention) | bit;
            } else if (uint32_t uirBit = interventionBitOf(r.key())) {
                word &= ~bOtherIntervention;
                uir |= uirBit;
            }
        });
        kvpo::storeWord(*interventions, uir);
    });
}

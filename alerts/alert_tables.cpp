// The tables of alert kinds 3 to 9: which alert identifier, if any, a record
// gives. Each kind is looked up in this order: its exact keys, then its rules
// on category and condition, then its default.
#include <initializer_list>
#include <span>

#include "alerts/internal/alert_records.h"

namespace kvpo {
namespace {

// What the entry's value is.
enum class Value : uint8_t {
    Zero,
    Instance,             // the record's instance byte
    InstanceAndFourth,    // instance x 256 + the fourth byte
};

// A short list of key bytes or identifiers in a table row.
constexpr int kNotListed = -1;   // List::indexOf of a value not in the list

struct List {
    uint16_t item[13] = {};
    size_t size = 0;
    constexpr List(std::initializer_list<uint16_t> items) {
        for (uint16_t v : items) item[size++] = v;
    }
    constexpr int indexOf(unsigned v) const {
        for (size_t i = 0; i < size; ++i)
            if (item[i] == v) return static_cast<int>(i);
        return kNotListed;
    }
};

// Exact keys: one category, its instances and conditions, and the
// identifiers: one for every key of the row, or one per instance (or per
// condition) in the order of that list.
struct ExactRow {
    uint8_t category;
    List instances;
    List conditions;
    List ids;
    Value value = Value::Zero;
};

constexpr uint16_t kAny = 0x100;   // a rule's category or condition that matches every byte
constexpr uint16_t kNone = 0;      // the record gives no entry

struct Outcome {
    uint16_t id;
    Value value = Value::Zero;
};

// A rule on category and condition, whatever the instance.
struct Rule {
    uint16_t category;
    uint16_t condition;
    Outcome outcome;
};

struct KindTable {
    std::span<const ExactRow> exact;
    std::span<const Rule> rules;
    Outcome otherwise;
};

// ---- kind 3: paper jams (value always 0) ----
constexpr ExactRow kPaperJamKeys[] = {
    // category, instances, conditions, ids
    {0x01, {0x01, 0x02, 0x03, 0x04, 0x05}, {0x01}, {6242, 6243, 6244, 6245, 6246}},
    {0x01, {0xFF}, {0x01, 0xFF}, {6104}},
    {0x01, {0xFF}, {0x02}, {6190}},
    {0x02, {0x01, 0x02, 0x03}, {0xFF}, {6247, 6248, 6249}},
    {0x02, {0xFF}, {0xFF}, {6106}},
    {0x03, {0x01}, {0x01}, {6182}},
    {0x03, {0x01}, {0x02, 0xFF}, {6105}},
    {0x03, {0xFF}, {0xFF}, {6105}},
    {0x04, {0xFF}, {0xFF}, {6107}},
    {0x07, {0x02}, {0x01, 0x02, 0x03, 0x04}, {6236, 6237, 6238, 6239}},
    {0x08, {0x01}, {0x01, 0x02, 0x03}, {6183, 6184, 6188}},
};
constexpr KindTable kPaperJams{kPaperJamKeys, {}, {6108}};

// ---- kind 4: operator intervention ----
constexpr ExactRow kOperatorIVKeys[] = {
    {0x01, {0x01, 0x02, 0x03, 0x04, 0x05, 0x07, 0x08}, {0xFF}, {6137, 6133, 6127, 6121, 6122, 6164, 6231}},
    {0x01, {0x05}, {0x01}, {6228}},
    {0x03, {0x01, 0xFF}, {0x01}, {6102}},
    {0x03, {0x01}, {0x07}, {6254}},
    {0x03, {0x01}, {0x0A}, {6255}},
    {0x03, {0x01, 0x02, 0x03, 0x04, 0x05, 0x06, 0x07, 0x08, 0x09, 0x0A, 0x0B, 0x0C, 0x0D}, {0xFF},
     {6134, 6124, 6130, 6120, 6131, 6119, 6129, 6139, 6136, 6126, 6138, 6125, 6132}},
    {0x03, {0x0E, 0x16, 0x19}, {0xFF}, {6135}},
    {0x03, {0x0F, 0x10, 0x11, 0x12, 0x13, 0x14, 0x15, 0x18}, {0xFF}, {6219, 6175, 6176, 6177, 6178, 6232, 6257, 6256}},
    {0x04, {0x01, 0x02}, {0xFF}, {6123, 6128}},
    {0x04, {0xFF}, {0x01, 0x02, 0x03, 0x04, 0x07}, {6103, 6171, 6172, 6173, 6250}},
    {0x07, {0x02}, {0x01, 0xFF}, {6229, 6230}},
    {0x08, {0x01, 0x02, 0x04, 0x05, 0x06, 0x07}, {0xFF}, {6174, 6251, 6166, 6167, 6168, 6169}},
    {0x09, {0x01, 0x02}, {0xFF}, {6141, 6140}},
};
constexpr Rule kOperatorIVRules[] = {
    // category, condition, outcome
    {0x01, 0x01, {6240, Value::Instance}},
    {0x01, 0x08, {6252, Value::Instance}},
    {0x02, 0x01, {6241, Value::Instance}},
    {0x02, 0x0B, {6114, Value::Instance}},
};
constexpr KindTable kOperatorIV{kOperatorIVKeys, kOperatorIVRules, {6118}};

// ---- kind 5: warnings ----
constexpr ExactRow kWarningKeys[] = {
    {0x03, {0x16}, {0xFF}, {6135}},
    {0x08, {0x01, 0x02, 0x03, 0x04}, {0x01, 0x02}, {6223}, Value::Instance},
    {0x08, {0xFF}, {0x01}, {6223}, Value::Instance},
    {0x08, {0x05}, {0x06}, {6223}, Value::Instance},
    {0x08, {0x06}, {0x06}, {6168}},
    {0x08, {0x01}, {0xFF}, {6226}},
};
constexpr Rule kWarningRules[] = {
    {0x01, 0x03, {6203, Value::Instance}},
    {0x01, 0x0B, {6253, Value::Instance}},
    {0x01, kAny, {kNone}},
    {0x02, 0x04, {6204, Value::Instance}},
    {0x02, kAny, {kNone}},
    {0x07, 0xFF, {6233, Value::Instance}},
};
constexpr KindTable kWarnings{kWarningKeys, kWarningRules, {6208}};

// ---- kind 6: service required ----
constexpr ExactRow kServiceReqKeys[] = {
    {0x03, {0xFF}, {0x01, 0x02}, {6115}},
};
constexpr KindTable kServiceReq{kServiceReqKeys, {}, {kNone}};

// ---- kind 7: configuration change ----
// Every category but 01 gives 6201; the category-01 rules come first.
constexpr ExactRow kConfigChgKeys[] = {
    {0x03, {0xFF}, {0x05, 0x06, 0x07, 0x08}, {6194, 6195, 6196, 6197}},
    {0x01, {0xFF}, {0x09, 0x0A}, {6198, 6199}},
    {0x04, {0xFF}, {0x0A}, {6200}},
    {0x09, {0xFF}, {0x01, 0x02}, {6191, 6192}},
};
constexpr Rule kConfigChgRules[] = {
    {0x01, 0x04, {6193, Value::Instance}},
    {0x01, 0xFF, {6202, Value::Instance}},
    {0x01, kAny, {kNone}},
};
constexpr KindTable kConfigChg{kConfigChgKeys, kConfigChgRules, {6201}};

// ---- kind 8: supplies (value always the instance) ----
constexpr ExactRow kSuppliesKeys[] = {
    {0x08, {0x01, 0x02, 0x03, 0x04}, {0x01, 0x02}, {6221}, Value::Instance},
    {0x08, {0xFF}, {0x01}, {6223}, Value::Instance},
    {0x08, {0x01, 0x02, 0x03, 0x04}, {0xFF}, {6227}, Value::Instance},
};
constexpr Rule kSuppliesRules[] = {
    {0x08, 0x04, {6222, Value::Instance}},
    {0x08, 0x05, {6221, Value::Instance}},
    {0x08, 0x06, {6220, Value::Instance}},
    {0x07, 0x05, {6235, Value::Instance}},
    {0x07, 0xFF, {6234, Value::Instance}},
};
constexpr KindTable kSupplies{kSuppliesKeys, kSuppliesRules, {kNone}};

// ---- kind 9: supplies status ----
constexpr KindTable kSuppliesStatus{{}, {}, {6224, Value::InstanceAndFourth}};

// Tables by kind, from kind 3 on.
constexpr const KindTable* kKinds[] = {&kPaperJams, &kOperatorIV, &kWarnings, &kServiceReq,
                                       &kConfigChg, &kSupplies,   &kSuppliesStatus};

// A row names one key per instance and condition; several identifiers pair
// with the one list that has as many entries.
constexpr bool wellFormed(const ExactRow& row) {
    if (row.ids.size == 1) return true;
    bool byInstance = row.instances.size == row.ids.size && row.conditions.size == 1;
    bool byCondition = row.conditions.size == row.ids.size && row.instances.size == 1;
    return byInstance != byCondition;
}
constexpr bool wellFormed() {
    for (const KindTable* table : kKinds)
        for (const ExactRow& row : table->exact)
            if (!wellFormed(row)) return false;
    return true;
}
static_assert(wellFormed());

std::optional<uint16_t> exactId(const KindTable& table, const AlertRecord& r, Value& value) {
    for (const ExactRow& row : table.exact) {
        if (row.category != r.category) continue;
        int i = row.instances.indexOf(r.instance);
        int c = row.conditions.indexOf(r.condition);
        if (i < 0 || c < 0) continue;
        value = row.value;
        if (row.ids.size == 1) return row.ids.item[0];
        return row.ids.item[row.instances.size > 1 ? i : c];
    }
    return std::nullopt;
}

const Outcome& ruleOutcome(const KindTable& table, const AlertRecord& r) {
    auto matches = [](uint16_t want, uint8_t have) { return want == kAny || want == have; };
    for (const Rule& rule : table.rules)
        if (matches(rule.category, r.category) && matches(rule.condition, r.condition)) return rule.outcome;
    return table.otherwise;
}

uint16_t valueOf(Value value, const AlertRecord& r) {
    switch (value) {
    case Value::Instance: return r.instance;
    case Value::InstanceAndFourth: return static_cast<uint16_t>((r.instance << 8) | r.fourth);
    case Value::Zero: break;
    }
    return 0;
}

}  // namespace

std::optional<KVPrtObj::KVPALERTDATA> alertOfRecord(unsigned kind, const AlertRecord& record) {
    if (kind < kKindPaperJams || kind > kKindSuppliesStatus) return std::nullopt;
    const KindTable& table = *kKinds[kind - kKindPaperJams];
    Value value = Value::Zero;
    uint16_t id;
    if (auto exact = exactId(table, record, value)) {
        id = *exact;
    } else {
        const Outcome& outcome = ruleOutcome(table, record);
        id = outcome.id;
        value = outcome.value;
    }
    if (id == kNone) return std::nullopt;
    return KVPrtObj::KVPALERTDATA{id, valueOf(value, record)};
}

}  // namespace kvpo

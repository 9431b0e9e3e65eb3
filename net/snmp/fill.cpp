// The fill's entry and what its parts share: the printer's device index,
// character sets, numbered bins, supplies and alert rows, read once.
#include "fill.h"

#include <algorithm>
#include <cctype>
#include <limits>
#include <set>

#include "fill_parts.h"
#include "text.h"

namespace kvnet::snmp {
namespace detail {
namespace {

// A declared character set, or 0 (guess) for other(1) and unknown(2).
unsigned charsetOf(const Printer& p, std::optional<int64_t> localization) {
    if (!localization || *localization <= 0 || *localization > std::numeric_limits<uint32_t>::max()) return 0;
    auto set = p.number(oid::prtLocalizationEntry, oid::prtLocalizationCharacterSet,
                        {static_cast<uint32_t>(*localization)});
    if (!set || *set <= 2 || *set > std::numeric_limits<uint32_t>::max()) return 0;
    return static_cast<unsigned>(*set);
}

std::string lower(std::string text) {
    for (char& c : text) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return text;
}

bool isHexLine(std::string_view line) {
    std::string digits;
    for (char c : line)
        if (c != ' ' && c != '\t') digits += c;
    bool prefixed = digits.size() > 2 && digits[0] == '0' && (digits[1] == 'x' || digits[1] == 'X');
    if (prefixed) digits.erase(0, 2);
    if (digits.empty() ||
        !std::all_of(digits.begin(), digits.end(), [](char c) { return std::isxdigit(static_cast<unsigned char>(c)); }))
        return false;
    return prefixed || digits.size() >= 8;
}

// The lines of `text` after the first that are hex digits (part numbers and
// checksums some devices put on a description's second line) are dropped.
std::string withoutHexLines(const std::string& text) {
    std::string out;
    size_t start = 0;
    bool first = true;
    while (start <= text.size()) {
        size_t end = text.find_first_of("\r\n", start);
        if (end == std::string::npos) end = text.size();
        std::string_view line(text.data() + start, end - start);
        if (first || !isHexLine(line)) {
            if (!first) out += ' ';
            out += line;
        }
        if (!line.empty()) first = false;
        start = end + 1;
    }
    return out;
}

constexpr int64_t kTonerTypes[] = {oid::toner, oid::ink, oid::inkCartridge, oid::inkRibbon, oid::solidWax,
                                   oid::ribbonWax, oid::tonerCartridge, oid::matteToner, oid::matteInk};
constexpr int64_t kWasteTypes[] = {oid::wasteToner, oid::wasteInk, oid::wasteWax, oid::wasteWater, oid::wastePaper};

template <size_t N>
bool among(const int64_t (&set)[N], int64_t v) {
    return std::find(std::begin(set), std::end(set), v) != std::end(set);
}

}  // namespace

Printer::Printer(const MibView& v, const std::string& a, Snapshot* s)
    : view(v), snapshot(*s), profile(s->profile), address(a), device(printerDevice(v)) {
    charset = charsetOf(*this, number(oid::prtGeneralEntry, oid::prtGeneralCurrentLocalization));
    consoleCharset = charsetOf(*this, number(oid::prtGeneralEntry, oid::prtConsoleLocalization));
}

Oid Printer::cell(const Oid& entry, uint32_t column, std::initializer_list<uint32_t> index) const {
    Oid o = entry;
    o.push_back(column);
    o.push_back(device);
    o.insert(o.end(), index.begin(), index.end());
    return o;
}

std::optional<int64_t> Printer::number(const Oid& entry, uint32_t column, std::initializer_list<uint32_t> index) const {
    return view.number(cell(entry, column, index));
}

std::optional<std::string> Printer::bytes(const Oid& entry, uint32_t column,
                                          std::initializer_list<uint32_t> index) const {
    return view.bytes(cell(entry, column, index));
}

std::optional<uint32_t> Printer::counter(const Oid& o, const char* what) {
    const Value* v = view.get(o);
    auto n = view.number(o);
    if (!v || !n) return std::nullopt;
    constexpr int64_t kMax = std::numeric_limits<uint32_t>::max();
    if (*n < 0) {
        int64_t wrapped = *n + (int64_t{1} << 32);
        if (v->type != Value::Type::Integer || wrapped < 0) {
            note(std::string(what) + ": " + std::to_string(*n) + " is no count, left out");
            return std::nullopt;
        }
        note(std::string(what) + " typed INTEGER: " + std::to_string(*n) + " read as " + std::to_string(wrapped));
        return static_cast<uint32_t>(wrapped);
    }
    if (*n > kMax) {
        note(std::string(what) + ": " + std::to_string(*n) + " cut to " + std::to_string(kMax));
        return static_cast<uint32_t>(kMax);
    }
    return static_cast<uint32_t>(*n);
}

std::vector<uint32_t> Printer::rows(const Oid& entry) const {
    std::set<uint32_t> found;
    for (const Oid& suffix : view.indexes(entry))
        if (suffix.size() == 3 && suffix[1] == device) found.insert(suffix[2]);
    return {found.begin(), found.end()};
}

std::string Printer::text(const std::optional<std::string>& raw, unsigned set, size_t max) const {
    if (!raw) return {};
    std::string utf8 = toUtf8(*raw, set);
    utf8.resize(std::min(utf8.size(), utf8.find('\0')));
    std::string latin = toLatin1(oneLine(withoutHexLines(utf8)));
    if (latin.size() > max) {
        latin.resize(max);
        while (!latin.empty() && latin.back() == ' ') latin.pop_back();
    }
    return latin;
}

const Input* Printer::inputByIndex(int64_t index) const {
    for (const Input& i : inputs)
        if (i.index == index) return &i;
    return nullptr;
}

const Output* Printer::outputByIndex(int64_t index) const {
    for (const Output& o : outputs)
        if (o.index == index) return &o;
    return nullptr;
}

const Supply* Printer::supplyByIndex(int64_t index) const {
    for (const Supply& s : supplies)
        if (s.index == index) return &s;
    return nullptr;
}

bool Printer::hasCurrentAlert(int64_t group, int64_t index, std::initializer_list<int64_t> codes) const {
    return std::any_of(alerts.begin(), alerts.end(), [&](const AlertRow& a) {
        return a.current() && a.group == group && a.groupIndex == index &&
               std::find(codes.begin(), codes.end(), a.code) != codes.end();
    });
}

bool Printer::hasCurrentAlert(const alertmap::List& codes) const {
    return std::any_of(alerts.begin(), alerts.end(),
                       [&](const AlertRow& a) { return a.current() && codes.has(a.code); });
}

bool Printer::errorBit(unsigned bit) const {
    if (!errorState || bit / 8 >= errorState->size()) return false;
    return (static_cast<unsigned char>((*errorState)[bit / 8]) & (0x80u >> (bit % 8))) != 0;
}

Level Supply::reading() const {
    if (!level) return {};
    if (*level == oid::levelSomeRemaining) return {LevelKind::SomeRemaining, 0};
    // Levels are Integer32: a value beyond 32 bits is no measurement.
    constexpr int64_t kMax32 = std::numeric_limits<uint32_t>::max();
    if (*level < 0 || *level > kMax32) return {};
    // A percent unit means 100 whatever the maximum says.
    int64_t capacity = unit == oid::unitPercent ? 100 : max.value_or(0);
    if (capacity <= 0 || capacity > kMax32) return {};
    if (*level >= capacity) return {LevelKind::Measured, 100};
    // A supply that holds anything is not shown empty.
    auto percent = static_cast<unsigned>(*level * 100 / capacity);
    return {LevelKind::Measured, percent == 0 && *level > 0 ? 1 : percent};
}

uint32_t printerDevice(const MibView& view) {
    auto hasGeneralRow = [&](uint32_t dev) {
        for (uint32_t c = 1; c <= oid::kPrtGeneralColumns; ++c)
            if (view.get(oid::cell(oid::prtGeneralEntry, c, {dev}))) return true;
        return false;
    };
    std::vector<uint32_t> printers;
    for (const Oid& row : view.indexes(oid::column(oid::hrDeviceEntry, oid::hrDeviceType))) {
        const Value* type = view.get(oid::cell(oid::hrDeviceEntry, oid::hrDeviceType, row));
        if (row.size() == 1 && type && type->type == Value::Type::ObjectId && type->oid == oid::hrDevicePrinter)
            printers.push_back(row[0]);
    }
    for (uint32_t dev : printers)
        if (hasGeneralRow(dev)) return dev;
    if (!printers.empty()) return printers.front();
    std::optional<uint32_t> first;
    for (const Oid& suffix : view.indexes(oid::prtGeneralEntry))
        if (suffix.size() == 2 && (!first || suffix[1] < *first)) first = suffix[1];
    return first.value_or(1);
}

void readInputs(Printer& p) {
    struct Row {
        uint32_t index;
        bool manual, envelope;
    };
    std::vector<Row> rows;
    for (uint32_t index : p.rows(oid::prtInputEntry)) {
        auto type = p.number(oid::prtInputEntry, oid::prtInputType, {index});
        auto name = p.bytes(oid::prtInputEntry, oid::prtInputName, {index});
        if (!name) name = p.bytes(oid::prtInputEntry, oid::prtInputDescription, {index});
        std::string words = lower(p.text(name, p.charset));
        bool envelope = words.find("envelope") != std::string::npos;
        bool manual = !envelope && (type == oid::sheetFeedManual || words.find("manual") != std::string::npos);
        rows.push_back({index, manual, envelope});
    }
    // The first manual feed is 1, the first envelope feeder 2, the others 3 on.
    bool manualTaken = false, envelopeTaken = false;
    unsigned next = 3;
    for (const Row& r : rows) {
        unsigned number;
        if (r.envelope && !envelopeTaken) number = 2, envelopeTaken = true;
        else if (r.manual && !manualTaken) number = 1, manualTaken = true;
        else number = next++;
        if (number > kMaxRecords) {
            p.note("input " + std::to_string(r.index) + ": bin number above 255, left out");
            continue;
        }
        p.inputs.push_back({r.index, static_cast<uint8_t>(number), {}});
    }
    std::sort(p.inputs.begin(), p.inputs.end(), [](const Input& a, const Input& b) { return a.number < b.number; });
}

void readOutputs(Printer& p) {
    unsigned number = 0;
    for (uint32_t index : p.rows(oid::prtOutputEntry)) {
        if (++number > kMaxRecords) {
            p.note("output " + std::to_string(index) + ": bin number above 255, left out");
            continue;
        }
        p.outputs.push_back({index, static_cast<uint8_t>(number), {}});
    }
}

void readSupplies(Printer& p) {
    using alertmap::Subject;
    for (uint32_t index : p.rows(oid::prtMarkerSuppliesEntry)) {
        if (index == 0 || index > kMaxRecords) {
            p.note("supply " + std::to_string(index) + ": index above 255, left out");
            continue;
        }
        Supply s;
        s.index = index;
        auto number = [&](uint32_t column) { return p.number(oid::prtMarkerSuppliesEntry, column, {index}); };
        auto marker = number(oid::prtMarkerSuppliesMarkerIndex);
        s.marker = marker && *marker > 0 && *marker <= std::numeric_limits<uint32_t>::max()
                       ? static_cast<uint32_t>(*marker) : 0;
        s.supplyClass = number(oid::prtMarkerSuppliesClass).value_or(0);
        s.type = number(oid::prtMarkerSuppliesType).value_or(0);
        s.unit = number(oid::prtMarkerSuppliesSupplyUnit).value_or(0);
        s.max = number(oid::prtMarkerSuppliesMaxCapacity);
        s.level = number(oid::prtMarkerSuppliesLevel);
        bool waste = among(kWasteTypes, s.type);
        if (s.supplyClass == oid::receptacleThatIsFilled || (s.supplyClass != oid::supplyThatIsConsumed && waste))
            s.kind = Subject::Receptacle;
        else if (s.type == oid::staples) s.kind = Subject::Staples;
        else if (among(kTonerTypes, s.type)) s.kind = Subject::Toner;
        else if (s.type == oid::opc) s.kind = Subject::Opc;
        else if (s.type == oid::fuser) s.kind = Subject::Fuser;
        p.supplies.push_back(s);
    }
}

void readAlerts(Printer& p) {
    std::vector<uint32_t> rows = p.rows(oid::prtAlertEntry);
    p.hasAlertTable = !rows.empty() || p.number(oid::prtGeneralEntry, oid::prtAlertAllEvents) ||
                      p.number(oid::prtGeneralEntry, oid::prtAlertCriticalEvents);
    for (uint32_t index : rows) {
        auto number = [&](uint32_t column) { return p.number(oid::prtAlertEntry, column, {index}); };
        AlertRow a;
        a.index = index;
        a.severity = number(oid::prtAlertSeverityLevel).value_or(oid::severityOther);
        a.training = number(oid::prtAlertTrainingLevel).value_or(0);
        a.group = number(oid::prtAlertGroup).value_or(0);
        a.groupIndex = number(oid::prtAlertGroupIndex).value_or(-1);
        a.code = number(oid::prtAlertCode).value_or(0);
        std::string description =
            lower(p.text(p.bytes(oid::prtAlertEntry, oid::prtAlertDescription, {index}), p.charset));
        // Rows that say nothing, and power saving shown as an alert.
        if (a.group <= 0 && a.code <= 0 && description.empty()) {
            p.note("alert " + std::to_string(index) + ": no group, code or description, left out");
            continue;
        }
        if (description.find("sleep") != std::string::npos || description.find("power sav") != std::string::npos ||
            description.find("energy sav") != std::string::npos) {
            p.note("alert " + std::to_string(index) + ": power saving, left out");
            continue;
        }
        p.alerts.push_back(a);
    }
    if (auto state = p.bytes(oid::hrPrinterEntry, oid::hrPrinterDetectedErrorState)) {
        if (state->size() > 2) {
            p.note("error state of " + std::to_string(state->size()) + " octets: the first two read");
            state->resize(2);
        }
        if (!state->empty()) p.errorState = *state;
    }
}

}  // namespace detail

void fill(const MibView& view, const std::string& address, Snapshot* snapshot) {
    detail::Printer p(view, address, snapshot);
    detail::readInputs(p);
    detail::readOutputs(p);
    detail::readSupplies(p);
    detail::readAlerts(p);
    detail::fillStatus(p);
    detail::fillAlerts(p);
    detail::fillSupplies(p);
    detail::fillInventory(p);
    detail::fillIdentity(p);
    detail::fillPanel(p);
}

}  // namespace kvnet::snmp

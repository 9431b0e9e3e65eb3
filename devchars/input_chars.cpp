// Summary of the input sources: the two steps that fill an INPUTCHARS from the
// values of one input bin, by the bin's name or by its number.
#include <string_view>

#include "devchars/internal/input_rules.h"
#include "devchars/internal/text.h"
#include "kvprtobj/prtobj.h"

namespace {

using Chars = KVPrtObj::INPUTCHARS;
using Field = uint32_t Chars::*;

// The values of one bin that a step writes.
struct BinValues {
    int binNumber;
    int sizeCode;
    int attr;
    unsigned long capacity;
};

// A source of the summary: either fixed fields (capacity null for the manual
// sources) or one of the two feeders, whose fields move.
enum class Kind { Fields, Feeder, SecondFeeder };
struct Source {
    Kind kind;
    Field bin, size, attr, capacity;
};

constexpr Source kManualPaper{Kind::Fields, &Chars::ulManualPaperBin, &Chars::ulManualPaperSize,
                              &Chars::ulManualPaperAttr, nullptr};
constexpr Source kManualEnvelope{Kind::Fields, &Chars::ulManualEnvelopeBin, &Chars::ulManualEnvelopeSize,
                                 &Chars::ulManualEnvelopeAttr, nullptr};
constexpr Source kTray1{Kind::Fields, &Chars::ulTray1Bin, &Chars::ulTray1Size, &Chars::ulTray1Attr,
                        &Chars::ulTray1Capacity};
constexpr Source kTray2{Kind::Fields, &Chars::ulTray2Bin, &Chars::ulTray2Size, &Chars::ulTray2Attr,
                        &Chars::ulTray2Capacity};
constexpr Source kTray3{Kind::Fields, &Chars::ulTray3Bin, &Chars::ulTray3Size, &Chars::ulTray3Attr,
                        &Chars::ulTray3Capacity};
constexpr Source kFeeder{Kind::Feeder, nullptr, nullptr, nullptr, nullptr};
constexpr Source kSecondFeeder{Kind::SecondFeeder, nullptr, nullptr, nullptr, nullptr};

struct NamedSource {
    std::string_view name;
    const Source* source;
};

constexpr NamedSource kNamedSources[] = {
    {"Manual Paper", &kManualPaper}, {"Manual Envelope", &kManualEnvelope},
    {"Tray 1", &kTray1},             {"Tray 2", &kTray2},
    {"Tray 3", &kTray3},             {"Feeder", &kFeeder},
    {"Feeder 2", &kSecondFeeder},
};

const Source* sourceOfBinNumber(int binNumber, unsigned long capacity, unsigned long binCount) {
    switch (binNumber) {
    case 1: return &kManualPaper;
    case 2: return &kManualEnvelope;
    case 3: return &kTray1;
    case 4: return kvpo::binFourIsTray2(capacity, binCount) ? &kTray2 : &kFeeder;
    case 5: return &kFeeder;
    default: return nullptr;
    }
}

// The second feeder takes the feeder-2 fields and moves the first feeder from
// the single-feeder fields into the feeder-1 fields.
void writeSecondFeeder(const BinValues& v, Chars& c) {
    c.ulTwoFeeders = 1;
    c.ulFeeder2Size = static_cast<uint32_t>(v.sizeCode);
    c.ulFeeder2BinHigh = kvpo::isHighFeeder(v.sizeCode) ? static_cast<uint32_t>(v.binNumber) : 0;
    c.ulFeeder2Attr = static_cast<uint32_t>(v.attr);
    c.ulFeeder1BinHigh = c.ulFeederBinHigh;
    c.ulFeeder1Size = c.ulFeederSize;
    c.ulFeeder1Attr = c.ulFeederAttr;
    c.ulFeederBinHigh = 0;
    c.ulFeederBinLow = 0;
}

void write(const Source& s, const BinValues& v, Chars& c) {
    switch (s.kind) {
    case Kind::Fields:
        c.*s.bin = static_cast<uint32_t>(v.binNumber);
        c.*s.size = static_cast<uint32_t>(v.sizeCode);
        c.*s.attr = static_cast<uint32_t>(v.attr);
        if (s.capacity) c.*s.capacity = static_cast<uint32_t>(v.capacity);
        break;
    case Kind::Feeder:
        (kvpo::isHighFeeder(v.sizeCode) ? c.ulFeederBinHigh : c.ulFeederBinLow) = static_cast<uint32_t>(v.binNumber);
        c.ulFeederSize = static_cast<uint32_t>(v.sizeCode);
        c.ulFeederAttr = static_cast<uint32_t>(v.attr);
        break;
    case Kind::SecondFeeder:
        writeSecondFeeder(v, c);
        break;
    }
}

}  // namespace

// By name: "Manual Paper", "Manual Envelope", "Tray 1".."Tray 3", "Feeder"
// (ulFeederBinHigh for size code 80 or more, else ulFeederBinLow) and
// "Feeder 2", which moves the single feeder into the feeder-1 fields:
// ulFeeder1BinHigh takes ulFeederBinHigh (the first feeder's bin; 0 when
// it was recorded in ulFeederBinLow), ulFeeder1Size and ulFeeder1Attr take
// ulFeederSize and ulFeederAttr, then ulFeederBinHigh and ulFeederBinLow
// become 0.
void KVPrtObj::parseInputCharsByName(int binNumber, int sizeCode, int attr, unsigned long capacity,
                                     const CString& name, INPUTCHARS* chars) {
    if (chars == nullptr) return;
    const std::string_view text = kvpo::cText(name);
    for (const NamedSource& entry : kNamedSources) {
        if (entry.name == text) {
            write(*entry.source, {binNumber, sizeCode, attr, capacity}, *chars);
            return;
        }
    }
}

void KVPrtObj::parseInputCharsByID(int binNumber, int sizeCode, int attr, unsigned long capacity,
                                   unsigned long binCount, INPUTCHARS* chars) {
    if (chars == nullptr) return;
    if (const Source* source = sourceOfBinNumber(binNumber, capacity, binCount))
        write(*source, {binNumber, sizeCode, attr, capacity}, *chars);
}

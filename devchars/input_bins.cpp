// Input bins: the query of the printer's input bins and the two naming steps
// that give each bin its InputBinId.
#include <string_view>

#include "devchars/internal/input_rules.h"
#include "devchars/internal/text.h"
#include "prtobj/internal/ask.h"

namespace {

// Id of a "Feeder": decided by its size code.
constexpr uint16_t kFeederBySize = 0xFFFF;

struct NamedBin {
    std::string_view name;
    uint16_t id;
};

constexpr NamedBin kNamedBins[] = {
    {"Manual Paper", KVPrtObj::IB_MANUAL_PAPER},
    {"Manual Feed", KVPrtObj::IB_MANUAL_PAPER},
    {"Manual Envelope", KVPrtObj::IB_MANUAL_ENVELOPE},
    {"Tray 1", KVPrtObj::IB_TRAY1},
    {"Tray 2", KVPrtObj::IB_TRAY2},
    {"Tray 3", KVPrtObj::IB_TRAY3},
    {"Tray 4", KVPrtObj::IB_TRAY4},
    {"Tray 5", KVPrtObj::IB_TRAY5},
    {"MFF", KVPrtObj::IB_MULTIPURPOSE},
    {"MP Tray", KVPrtObj::IB_MULTIPURPOSE},
    {"Feeder", kFeederBySize},
    {"Feeder 2", KVPrtObj::IB_FEEDER2},
};

uint16_t feederId(int sizeCode) {
    return kvpo::isHighFeeder(sizeCode) ? KVPrtObj::IB_FEEDER_HIGH : KVPrtObj::IB_FEEDER_LOW;
}

// Capacity bytes 01 F4 41 64 stand for 500, the first two bytes alone.
constexpr uint32_t kCapacityOf500 = 0x01F44164;

// Bytes of a bin record before its name length.
constexpr size_t kUnreadAfterCapacity = 3;
constexpr size_t kUnreadAfterSizeCode = 20;
// A bin record: number, capacity, the unread bytes, byte 8, size code, the
// unread bytes and two length bytes.
constexpr size_t kBinRecordMinimum = 1 + 4 + kUnreadAfterCapacity + 1 + 1 + kUnreadAfterSizeCode + 1 + 1;

}  // namespace

// Input bins (request 0x12). Success: *count = N and *bins a new array of N
// (allocated also when N is 0). A bin's id comes from parseInputBinsByName
// when it is named, else from parseInputBinsByID; a bin neither recognises
// keeps IB_NONE. A named bin that gets IB_FEEDER2 turns the id of the bin
// before it into IB_FEEDER1.
long KVPrtObj::bidiGetInputChars(unsigned int* count, INPUTBIN** bins) {
    return kvpo::queryList(*this, kvbidi::kInputChars, kBinRecordMinimum, bins, count,
                           [&](kvpo::ReplyReader& r, INPUTBIN* array, unsigned i, unsigned n) {
        INPUTBIN& bin = array[i];
        bin.usBinNumber = r.u8();
        uint32_t capacity = r.be32();
        bin.ulCapacity = capacity == kCapacityOf500 ? capacity >> 16 : capacity;
        r.skip(kUnreadAfterCapacity);
        bin.usByte8 = r.u8();
        bin.usSizeCode = r.u8();
        r.skip(kUnreadAfterSizeCode);
        CString name = r.countedText();
        r.skip(r.u8());   // the second counted text
        if (!r.ok()) return false;

        if (!name.empty()) {
            bin.strName = std::move(name);
            parseInputBinsByName(bin.usSizeCode, bin.strName, &bin.usBinId);
            if (bin.usBinId == IB_FEEDER2 && i > 0) array[i - 1].usBinId = IB_FEEDER1;
        } else {
            parseInputBinsByID(bin.usBinNumber, bin.usSizeCode, bin.ulCapacity, n, &bin.usBinId);
        }
        return true;
    });
}

void KVPrtObj::parseInputBinsByName(int sizeCode, const CString& name, unsigned short* binId) {
    if (binId == nullptr) return;
    const std::string_view text = kvpo::cText(name);
    for (const NamedBin& entry : kNamedBins) {
        if (entry.name == text) {
            *binId = entry.id == kFeederBySize ? feederId(sizeCode) : entry.id;
            return;
        }
    }
}

void KVPrtObj::parseInputBinsByID(int binNumber, int sizeCode, unsigned long capacity, unsigned long binCount,
                                  unsigned short* binId) {
    if (binId == nullptr) return;
    switch (binNumber) {
    case 1: *binId = IB_MANUAL_PAPER; break;
    case 2: *binId = IB_MANUAL_ENVELOPE; break;
    case 3: *binId = IB_TRAY1; break;
    case 4: *binId = kvpo::binFourIsTray2(capacity, binCount) ? uint16_t{IB_TRAY2} : feederId(sizeCode); break;
    case 5: *binId = feederId(sizeCode); break;
    default: break;
    }
}

// Output bins: the query of the printer's output bins, the naming step for
// named bins and the property rules for unnamed ones.
#include <iterator>
#include <string_view>

#include "devchars/internal/text.h"
#include "prtobj/internal/ask.h"

namespace {

using OUTPUTBIN = KVPrtObj::OUTPUTBIN;

// The named bins in the order of their ids, from OB_STANDARD to OB_FINISHER15.
constexpr std::string_view kNamedBins[] = {
    "Standard Bin",
    "Bin1:500-Sheet Output Stacker",
    "Bin2:500-Sheet Output Stacker",
    "Bin3:500-Sheet Output Stacker",
    "Bin1:High Capacity Output Stacker",
    "Bin1:Finisher",
    "Bin2:Finisher",
    "Bin3:Finisher",
    "Bin4:Finisher",
    "Bin5:Finisher",
    "Bin6:Finisher",
    "Bin7:Finisher",
    "Bin8:Finisher",
    "Bin9:Finisher",
    "Bin10:Finisher",
    "Bin11:Finisher",
    "Bin12:Finisher",
    "Bin13:Finisher",
    "Bin14:Finisher",
    "Bin15:Finisher",
};
static_assert(std::size(kNamedBins) == KVPrtObj::OB_FINISHER15 - KVPrtObj::OB_STANDARD + 1);

// Unnamed bins: the first rule that holds gives the id.
struct UnnamedRule {
    bool (*holds)(const OUTPUTBIN&);
    uint16_t id;
};

constexpr UnnamedRule kUnnamedRules[] = {
    {[](const OUTPUTBIN& b) { return b.ulByte6Bit0 && b.usByte1 == 1; }, KVPrtObj::OB_PROPERTY_BIT0},
    {[](const OUTPUTBIN& b) { return b.ulByte6Bit5 && b.usByte1 == 1; }, KVPrtObj::OB_PROPERTY_BIT5},
    {[](const OUTPUTBIN& b) { return b.ulByte7Bit0 || b.ulByte7Bit1 || b.ulByte7Bit2; }, KVPrtObj::OB_PROPERTY_BYTE7},
};

// A bin record: number, byte 1, capacity, bytes 6 and 7, the name's length.
constexpr size_t kBinRecordMinimum = 1 + 1 + 4 + 1 + 1 + 1;

uint32_t bit(unsigned byte, unsigned n) { return (byte >> n) & 1u; }

}  // namespace

// Output bins (request 0x13). Success: *count = N and *bins a new array of
// N (allocated also when N is 0). A bin is named when its name is not empty
// and does not begin with a 0 byte; named bins get their id from
// parseOutputBinsByName, unnamed ones from the property bits; a bin that
// gets none keeps OB_NONE.
long KVPrtObj::bidiGetOutputChars(unsigned int* count, OUTPUTBIN** bins) {
    return kvpo::queryList(*this, kvbidi::kOutputChars, kBinRecordMinimum, bins, count,
                           [&](kvpo::ReplyReader& r, OUTPUTBIN* array, unsigned i, unsigned) {
        OUTPUTBIN& bin = array[i];
        bin.usBinNumber = r.u8();
        bin.usByte1 = r.u8();
        bin.ulCapacity = r.be32();
        const unsigned byte6 = r.u8();
        const unsigned byte7 = r.u8();
        CString name = r.countedText();
        if (!r.ok()) return false;

        bin.ulByte6Bit0 = bit(byte6, 0);
        bin.ulByte6Bit1 = bit(byte6, 1);
        bin.ulByte6Bit2 = bit(byte6, 2);
        bin.ulByte6Bit3 = bit(byte6, 3);
        bin.ulByte6Bit4 = bit(byte6, 4);
        bin.ulByte6Bit5 = bit(byte6, 5);
        bin.ulByte7Bit0 = bit(byte7, 0);
        bin.ulByte7Bit1 = bit(byte7, 1);
        bin.ulByte7Bit2 = bit(byte7, 2);
        bin.ulByte7Bit7 = bit(byte7, 7);

        if (!name.empty() && name[0] != '\0') {
            bin.strName = std::move(name);
            parseOutputBinsByName(bin.strName, &bin.usBinId);
        } else {
            for (const UnnamedRule& rule : kUnnamedRules) {
                if (rule.holds(bin)) {
                    bin.usBinId = rule.id;
                    break;
                }
            }
        }
        return true;
    });
}

void KVPrtObj::parseOutputBinsByName(const CString& name, unsigned short* binId) {
    if (binId == nullptr) return;
    const std::string_view text = kvpo::cText(name);
    for (size_t i = 0; i < std::size(kNamedBins); ++i) {
        if (kNamedBins[i] == text) {
            *binId = static_cast<unsigned short>(OB_STANDARD + i);
            return;
        }
    }
}

#include <gtest/gtest.h>

#include <sstream>
#include <string>
#include <tuple>

#include "golden.h"
#include "scripted_printer.h"

using namespace kvtest;
using STORAGEOPTIONS = KVPrtObj::STORAGEOPTIONS;

namespace {

const STORAGEOPTIONS kOld{7, "old4", "old2", 11, 55, 13, 66};

long query(const ByteVec& bytes, STORAGEOPTIONS& o) {
    PrinterRig rig;
    rig.printer.setDefault(reply(bytes));
    return rig.obj.bidiGetStorageOptions(&o);
}

// The entries, split at " | " ("(none)" for none, "\0" a zero byte), queried
// into a record holding earlier values; the record on one line.
std::string stored(const std::string& input) {
    Bytes entries;
    unsigned count = 0;
    for (size_t from = 0, to = 0; input != "(none)" && to != input.npos; from = to + 3, ++count) {
        to = input.find(" | ", from);
        entries.counted(withZeros(input.substr(from, to - from)));
    }
    STORAGEOPTIONS o = kOld;
    std::ostringstream out;
    out << query(Bytes().u8(count).raw(entries), o) << " | cartridge " << o.ulFontCartridge << " '"
        << o.strCartridgeField2 << "' '" << o.strCartridgeField4 << "' | flash " << o.lFlashField2 << " "
        << o.lFlashField3 << " | disk " << o.lDiskField2 << " " << o.lDiskField3;
    return out.str();
}

}  // namespace

// Each device read at its fixed places; only field 1 compared, over the word's
// length; missing, short or cut fields leave their values.
TEST(Storage, EntriesGiveTheirFields) { expectGolden(KVPO_DEVCHARS_DIR "/storage.golden", stored); }

TEST(Storage, ShortRepliesLeaveTheRecordUntouched) {
    const std::string flash = "FLASH: 1;SIZE:  4096;FREE BYTES: 2048";
    for (const ByteVec& r : {ByteVec{}, Bytes().u8(2).counted(flash).vec(),
                             Bytes().u8(1).u8(static_cast<unsigned>(flash.size() + 1)).text(flash).vec()}) {
        STORAGEOPTIONS o = kOld;
        EXPECT_EQ(query(r, o), -2) << toHex(r);
        EXPECT_EQ(std::tuple(o.ulFontCartridge, o.strCartridgeField2, o.lFlashField2),
                  std::tuple(7u, CString("old2"), 11));
    }
}

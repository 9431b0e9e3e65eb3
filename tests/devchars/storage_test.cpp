#include <gtest/gtest.h>

#include <string>
#include <tuple>
#include <vector>

#include "scripted_printer.h"

using namespace kvtest;
using STORAGEOPTIONS = KVPrtObj::STORAGEOPTIONS;

namespace {

// Field 2 holds its number from index 7, field 3 from index 12; a cartridge's
// field 2 its text from index 9 and field 4 from index 11.
const std::string kFlash = "FLASH: 1;SIZE:  4096;FREE BYTES: 2048";
const std::string kDisk = "DISK: 1;;SIZE:  900000;;;FREE BYTES: 123456;";
const std::string kCartridge = "FONT CARTRIDGE: 1;PRODUCT: Bar Codes;SLOT: A;COPYRIGHT: 1999 Example";

struct Storage : ::testing::Test {
    PrinterRig rig;
    STORAGEOPTIONS o{7, "old4", "old2", 11, 55, 13, 66};

    long query(const std::vector<std::string>& entries) {
        Bytes reply = Bytes().u8(static_cast<unsigned>(entries.size()));
        for (const std::string& e : entries) reply.counted(e);
        return queryRaw(reply);
    }
    long queryRaw(const ByteVec& bytes) {
        rig.printer.setHandler([bytes](const SentRequest&) { return reply(bytes); });
        return rig.obj.bidiGetStorageOptions(&o);
    }
};

}  // namespace

// The fields of the built-in profile are read in the round trip.
TEST_F(Storage, ReadsEachDeviceAtItsFixedPlacesAndMinusOneMeansNothing) {
    ASSERT_EQ(query({"TRAY: 1;SIZE:  77", kFlash, "DISK: 2;SIZE:  5;FREE BYTES: 6", kDisk, kCartridge}), 0);
    EXPECT_EQ(std::tuple(o.lFlashField2, o.lFlashField3, o.lDiskField2, o.lDiskField3, o.strCartridgeField4),
              std::tuple(4096, 2048, 900000, 123456, CString("1999 Example")));
    ASSERT_EQ(query({}), 0);   // no entries reset all but the two third fields
    EXPECT_EQ(std::tuple(o.lFlashField2, o.lFlashField3, o.lDiskField2, o.lDiskField3, o.ulFontCartridge,
                         o.strCartridgeField2 + o.strCartridgeField4),
              std::tuple(0, 2048, 0, 123456, 0u, CString()));
    // Only the third fields map -1 to 0.
    ASSERT_EQ(query({"FLASH: 1;SIZE:  8;FREE BYTES: -1", "DISK: 1;SIZE:  -1;FREE BYTES: -1x",
                     "FONT CARTRIDGE: 1;PRODUCT: X;SLOT: A;COPYRIGHT: -1"}),
              0);
    EXPECT_EQ(std::tuple(o.lFlashField3, o.lDiskField2, o.lDiskField3, o.ulFontCartridge, o.strCartridgeField4),
              std::tuple(0, -1, 0, 1u, CString()));
    ASSERT_EQ(query({"FLASH: 1;SIZE:  8;FREE BYTES:  -2"}), 0);
    EXPECT_EQ(o.lFlashField3, -2);
}

TEST_F(Storage, OnlyField1IsComparedAndOnlyOverTheWordsLength) {
    const std::pair<std::string, int32_t> cases[] = {
        {"FLASH: 12;SIZE:  3", 3},      {"FLASH: 1 more;SIZE:  4", 4}, {"Flash: 1;SIZE:  5", 0},
        {"FLASH: ;SIZE:  6", 0},        {" FLASH: 1;SIZE:  7", 0},     {"TRAY: 1;FLASH: 1;SIZE:  8", 0},
        {";;FLASH: 1;;SIZE:  9", 9},    {"", 0},                       {";;;", 0},
    };
    for (const auto& [entry, size] : cases) {
        ASSERT_EQ(query({entry}), 0);
        EXPECT_EQ(o.lFlashField2, size) << entry;
    }
}

TEST_F(Storage, MissingShortOrCutFieldsLeaveTheirValues) {
    ASSERT_EQ(query({"FLASH: 1;SIZE:  12;FREE BYTES: 34", "FLASH: 1", "DISK: 1;SIZE: ;FREE BYTES:",
                     "FONT CARTRIDGE: 1;PRODUCT:"}),
              0);
    // The later flash entry has no fields 2 and 3; the disk's are shorter than their index.
    EXPECT_EQ(std::tuple(o.lFlashField2, o.lFlashField3, o.lDiskField2, o.lDiskField3, o.ulFontCartridge,
                         o.strCartridgeField2),
              std::tuple(12, 34, 0, 66, 1u, CString()));
    ASSERT_EQ(query({"DISK: 1;SIZE:  ;FREE BYTES: ", "FONT CARTRIDGE: 1;PRODUCT: ;S;C"}), 0);
    // Exactly as long as the index: an empty number.
    EXPECT_EQ(std::tuple(o.lDiskField3, o.strCartridgeField2 + o.strCartridgeField4), std::tuple(0, CString()));

    // An entry ends at its first zero byte and may fill its length byte.
    std::string longEntry = "DISK: 1;SIZE:  42;" + std::string(237 - 18, ';') + "FREE BYTES: 77";
    longEntry.resize(255, ' ');
    ASSERT_EQ(query({std::string("FLASH: 1;SIZE:  5\0;FREE BYTES: 6", 32), longEntry}), 0);
    EXPECT_EQ(std::tuple(o.lFlashField2, o.lFlashField3, o.lDiskField2, o.lDiskField3), std::tuple(5, 34, 42, 77));
}

TEST_F(Storage, ShortRepliesLeaveTheRecordUntouched) {
    const std::vector<ByteVec> shortReplies = {
        {},
        Bytes().u8(2).counted(kFlash),
        Bytes().u8(1).u8(static_cast<unsigned>(kFlash.size() + 1)).text(kFlash),
    };
    for (const ByteVec& r : shortReplies) {
        EXPECT_EQ(queryRaw(r), -2) << toHex(r);
        EXPECT_EQ(std::tuple(o.ulFontCartridge, o.strCartridgeField2, o.lFlashField2),
                  std::tuple(7u, CString("old2"), 11));
    }
}

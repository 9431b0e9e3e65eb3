#include <gtest/gtest.h>

#include <functional>
#include <tuple>

#include "kvprtobj/zutlib32.h"
#include "qsf_image.h"
#include "temp_dir.h"

using namespace kvtest;

namespace {

struct Opened {
    int rc;
    _QSFFILE* file;
};

Opened open(const std::string& path, unsigned long type) {
    _QSFFILE* file = reinterpret_cast<_QSFFILE*>(1);
    int rc = PtQsfOpen(path.c_str(), type, &file);
    return {rc, file};
}

const QsfImage kTwoLists = QsfImage(3)
                               .list1({{0x0101, {0x07}}, {0x0102, {}}, {0x0103, hex("41 42 43")}})
                               .list2({{0x0201, ByteVec(255, 0x5A)}});

}  // namespace

// Lists of records of every length are read back whole by the Quick Setup transfers (send of a received file).
TEST(LibraryFile, EmptyListsTypeByLowByteAndBadArguments) {
    TempDir dir;
    ByteVec bytes = QsfImage(3).list1({{0x0101, {1}}}).bytes();
    bytes[50] = bytes[51] = bytes[52] = bytes[53] = 0xEE;   // list 2 has no records: its offset is not looked at
    writeQsfFile(dir.file("a.qsf"), bytes);
    Opened o = open(dir.file("a.qsf"), 0x103);              // the printer type is compared by its low byte
    ASSERT_EQ(o.rc, 0);
    unsigned char* records = reinterpret_cast<unsigned char*>(1);
    unsigned short count = 9;
    EXPECT_TRUE(PtQsfGetVariables(o.file, 2, &records, &count) == 0 && records == nullptr && count == 0u);
    EXPECT_EQ(PtQsfGetVariables(o.file, 1, nullptr, &count), PTQSF_BAD_ARGUMENT);   // list 1 has a record
    for (int bad : {0, 3, -1}) {
        EXPECT_EQ(PtQsfGetVariables(o.file, bad, &records, &count), PTQSF_BAD_ARGUMENT) << bad;
        EXPECT_EQ(records, nullptr);
    }
    PtQsfClose(o.file);

    Opened none = open(dir.file("none.qsf"), 3);
    EXPECT_EQ(std::pair(none.rc, none.file), std::pair(int{PTQSF_CANNOT_OPEN}, static_cast<_QSFFILE*>(nullptr)));
    EXPECT_EQ(PtQsfOpen(dir.file("none.qsf").c_str(), 3, nullptr), PTQSF_BAD_ARGUMENT);
    _QSFFILE* file = nullptr;
    EXPECT_EQ(PtQsfOpen(nullptr, 3, &file), PTQSF_BAD_ARGUMENT);
    EXPECT_EQ(PtQsfClose(nullptr), 0);
    PtMemFree(nullptr);
}

// Every case starts from a good two-list file of printer type 3; none is
// read outside the file.
TEST(LibraryFile, BrokenFilesAreRefused) {
    // What is damaged, how, whether the checksum is made to match, the result.
    const std::tuple<const char*, std::function<void(ByteVec&)>, bool, int> cases[] = {
        {"empty file", [](ByteVec& b) { b.clear(); }, false, PTQSF_NOT_QSF},
        {"another magic", [](ByteVec& b) { b[1] = 'X'; }, true, PTQSF_NOT_QSF},
        {"header cut short", [](ByteVec& b) { b.resize(73); }, true, PTQSF_BAD_LAYOUT},
        {"another format", [](ByteVec& b) { b[5] = 2; }, true, PTQSF_NOT_QSF},
        {"another printer type", [](ByteVec& b) { b[4] = 4; }, true, PTQSF_NOT_QSF},
        {"checksum does not match", [](ByteVec& b) { b.back() ^= 1; }, false, PTQSF_BAD_CHECKSUM},
        {"list 1 claims more records", [](ByteVec& b) { b[48] = 5; }, true, PTQSF_BAD_LAYOUT},
        {"list 2 count 0xFFFF", [](ByteVec& b) { b[54] = b[55] = 0xFF; }, true, PTQSF_BAD_LAYOUT},
        {"list 1 offset past the end", [](ByteVec& b) { b[46] = 0x01; }, true, PTQSF_BAD_LAYOUT},
        {"list 1 offset inside the header", [](ByteVec& b) { b[44] = 10; }, true, PTQSF_BAD_LAYOUT},
        {"last record runs past the end", [](ByteVec& b) { b.pop_back(); }, true, PTQSF_BAD_LAYOUT},
        {"record length byte missing", [](ByteVec& b) { b.resize(b.size() - 257); }, true, PTQSF_BAD_LAYOUT},
    };
    for (const auto& [what, damage, stamp, rc] : cases) {
        TempDir dir;
        ByteVec bytes = kTwoLists.bytes();
        damage(bytes);
        writeQsfFile(dir.file("a.qsf"), bytes, stamp && bytes.size() >= 4);
        Opened o = open(dir.file("a.qsf"), 3);
        EXPECT_EQ(std::pair(o.rc, o.file), std::pair(rc, static_cast<_QSFFILE*>(nullptr))) << what;
    }
}

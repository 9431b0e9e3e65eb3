#include <gtest/gtest.h>

#include <tuple>

#include "kvprtobj/zutlib32.h"
#include "qsf_image.h"
#include "temp_dir.h"

using namespace kvtest;

namespace {

struct Ini {
    TempDir dir;
    _QSFINI* ini = nullptr;
    explicit Ini(const std::string& text) {
        writeFile(dir.file("QSVARS.CFG"), Bytes().text(text).vec());
        ini = PtIniOpen2(dir.file("QSVARS.CFG").c_str(), 1);
    }
    ~Ini() { PtIniClose(ini); }
    // The result and the ids as hexadecimal text.
    std::pair<int, std::string> ids(int list, unsigned long type) const {
        unsigned char* ids = reinterpret_cast<unsigned char*>(1);
        unsigned short count = 7;
        int rc = PtQsfIniGetSection(ini, list, type, &ids, &count);
        std::string text = ids ? toHex(ids, 2u * count) : std::string(count ? "?" : "");
        PtMemFree(ids);
        return {rc, text};
    }
};

}  // namespace

TEST(Configuration, ListsPerPrinterTypeInOrder) {
    Ini ini(
        "; comment\n"
        "ignored = 0001\n"
        "[PrinterType0]\r\n"
        "List1 = 0101 0x0102,0103\r\n"
        "# another comment\n"
        "  list1=0104  \n"
        "List2 = 2\n"
        "[printertype12]\n"
        "LIST1 = ffff 00a6\n"
        "List2 =\n");
    ASSERT_NE(ini.ini, nullptr);
    EXPECT_EQ(ini.ids(1, 0), std::make_pair(0, std::string("01 01 01 02 01 03 01 04")));
    EXPECT_EQ(ini.ids(2, 0), std::make_pair(0, std::string("00 02")));
    EXPECT_EQ(ini.ids(1, 12), std::make_pair(0, std::string("FF FF 00 A6")));
    EXPECT_EQ(ini.ids(2, 12), std::make_pair(0, std::string()));   // present but empty
}

TEST(Configuration, MissingAndMalformedEntries) {
    Ini ini(
        "[PrinterType1]\n"
        "List1 = 0101 12345\n"
        "List2 = 01G1\n"
        "[PrinterType2]\n"
        "List1 = 0x\n"
        "List2\n"   // no value: ignored
        "[PrinterType3\n"
        "List1 = 0101\n");
    ASSERT_NE(ini.ini, nullptr);
    // Five digits, a bad digit, "0x" alone; no value; an unclosed section header opens no section.
    const std::tuple<int, unsigned long, int> cases[] = {{1, 1, PTQSF_BAD_CONFIG}, {2, 1, PTQSF_BAD_CONFIG},
                                                         {1, 2, PTQSF_BAD_CONFIG}, {2, 2, PTQSF_NO_ENTRY},
                                                         {1, 3, PTQSF_NO_ENTRY},   {3, 1, PTQSF_BAD_ARGUMENT}};
    for (auto [list, type, rc] : cases) EXPECT_EQ(ini.ids(list, type).first, rc) << list << " " << type;
    EXPECT_EQ(ini.ids(1, 9), std::make_pair(int{PTQSF_NO_ENTRY}, std::string()));
    // Opening needs a readable file and mode 1.
    EXPECT_EQ(PtIniOpen2(ini.dir.file("none").c_str(), 1), nullptr);
    EXPECT_EQ(PtIniOpen2(ini.dir.file("QSVARS.CFG").c_str(), 0), nullptr);
    EXPECT_EQ(PtIniOpen2(nullptr, 1), nullptr);
    EXPECT_EQ(PtIniClose(nullptr), 0);
}

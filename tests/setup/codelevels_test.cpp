#include <gtest/gtest.h>

#include <memory>
#include <tuple>
#include <vector>

#include "kvprtobj/codelevel.h"
#include "scripted_printer.h"

using namespace kvtest;

namespace {

using Level = std::tuple<int, int, std::string>;   // component, instance, level

// The reply of the miscellaneous read of variable 00 A6 holding `text`.
Bytes codeLevelText(const std::string& text) { return Bytes().raw({0x00, 0x00, 0xA6}).text(text); }

struct CodeLevels {
    long rc = 0;
    std::vector<Level> levels;
};

CodeLevels readLevels(PrinterRig& rig) {
    int count = -1;
    KVPrtObj::CODELEVELS* array = nullptr;
    CodeLevels out;
    out.rc = rig.obj.bidiGetCodeLevels(count, &array);
    std::unique_ptr<KVPrtObj::CODELEVELS[]> owned(array);
    for (int i = 0; i < count; ++i)
        out.levels.emplace_back(array[i].lComponentId, array[i].iInstance, array[i].strCodeLevel);
    return out;
}

}  // namespace

// The kept base level comes first and no device-characteristics request is sent.
TEST(CodeLevels, LineRules) {
    PrinterRig rig;
    rig.obj.m_strCodeLevel = "b";
    // Leading line feed dropped; names compared exactly; values keep carriage
    // returns and colons; N/A slots are passed over; a last line without line feed counts.
    rig.printer.answer(0x56, codeLevelText("\n INA: 1\nINA2:  2\nENG : x\neng: y\nPNL: 3\r\nENG: 1:2\nSLOT 12: ISL  7\n"
                                           "SLOT2: N/A\nSLOT3: INA\nSLOT4: XYZ 1\nFLKER: 9"));
    auto r = readLevels(rig);
    EXPECT_EQ(r.rc, 0);
    EXPECT_EQ(r.levels, (std::vector<Level>{{7701, 0, "b"}, {7707, 1, "1"}, {7707, 2, "2"}, {7705, 0, "3\r"},
                                            {7702, 0, "1:2"}, {7710, 12, "7"}, {7707, 3, ""}, {7709, 0, "9"}}));
    EXPECT_EQ(std::tuple(rig.printer.requestCount(), rig.printer.lastRequest().data), std::tuple(1u, hex("00 A6")));
}

TEST(CodeLevels, BaseLevelComesFromTheDeviceCharacteristicsParsedRecordsEvenWhenItFails) {
    PrinterRig rig;
    rig.printer.answer(0x56, codeLevelText("DPX: 4\n"));
    rig.printer.answer(0x10, Bytes().zeros(33).counted("").counted("x3.1.0.0").counted(""));
    auto r = readLevels(rig);
    EXPECT_EQ(std::tuple(r.rc, r.levels, rig.obj.m_strCodeLevel),
              std::tuple(0l, std::vector<Level>{{7701, 0, "x3.1.0.0"}, {7706, 0, "4"}}, std::string("x3.1.0.0")));

    PrinterRig failing;
    failing.printer.answer(0x56, codeLevelText("CONT: 5\nENGF: 6\n"));
    failing.printer.answer(0x10, fail(-3));
    r = readLevels(failing);
    EXPECT_EQ(std::tuple(r.rc, r.levels), std::tuple(-3l, std::vector<Level>{{7708, 0, "5"}, {7704, 0, "6"}}));

    failing.printer.answer(0x56, fail(-10));   // the read itself failing touches nothing
    int count = 42;
    auto* const sentinel = reinterpret_cast<KVPrtObj::CODELEVELS*>(0x1);
    KVPrtObj::CODELEVELS* array = sentinel;
    EXPECT_EQ(failing.obj.bidiGetCodeLevels(count, &array), -10);
    EXPECT_EQ(std::pair(count, array), std::pair(42, sentinel));
    EXPECT_EQ(failing.obj.bidiGetCodeLevels(count, nullptr), -18);
}

TEST(CodeLevels, TextToNumber) {
    const std::pair<const char*, long> cases[] = {{"", 0},         {"7", 0},           {"123", 23},
                                                  {"A1.2.3", 123}, {"x3.1.0.0", 3100}, {"x12345678901", -539222987}};
    for (auto [text, value] : cases) EXPECT_EQ(StrCodeLevelToLong(text), value) << text;
}

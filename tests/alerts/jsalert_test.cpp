#include <gtest/gtest.h>

#include <tuple>
#include <vector>

#include "kvprtobj/jsalert.h"
#include "scripted_printer.h"

using namespace kvtest;

namespace {

struct Input {
    uint32_t c1, c2, c3, c4 = 0, c5 = 0;
};

// A job-status alert with the blocks of every data version; `valueSize` 4
// carries 32-bit values, any other size ids only.
Bytes jsAlert(const std::vector<Input>& inputs, const std::string& info = "JN=job", const std::string& text = "text",
              std::vector<std::pair<uint8_t, uint32_t>> values = {}, uint8_t valueSize = 4) {
    Bytes b{0x03, 0x01};
    b.u8(static_cast<unsigned>(inputs.size())).u8(0xA1).be16(0xB1B2).be16(0xC1C2);
    for (const auto& in : inputs) b.be32(in.c1).be32(in.c2).be32(in.c3);
    b.zeros(2).u8(0x5B).counted(info).counted(text).fill(4, 0xEE);
    for (const auto& in : inputs) b.zeros(2).be32(in.c4).be32(in.c5);
    b.u8(0x7A).u8(static_cast<unsigned>(values.size())).u8(valueSize);
    for (auto [id, value] : values) {
        b.u8(id);
        if (valueSize == 4) b.be32(value);
    }
    return b;
}

long decode(PrinterRig& rig, const Bytes& alert, JSALERTDATA& data) {
    rig.printer.setAlert(9, alert);
    return rig.obj.bidiJSQueryAlert(9, data);
}

}  // namespace

TEST(JobStatusAlert, VersionOneTakesTheFirstBlockOnlyAndVersionTwoTheSecond) {
    PrinterRig rig;
    JSALERTDATA data(1);
    ASSERT_EQ(decode(rig, jsAlert({{1, 2, 3, 4, 5}, {6, 7, 0xFFFFFFFF}}, "HT=h;JN=j", "free"), data), 0);
    EXPECT_EQ(std::tuple(rig.printer.alertFlags().back(), data.strHT + "|" + data.strJN + "|" + data.m_strText),
              std::tuple(2, std::string("h|j|free")));
    ASSERT_EQ(data.m_wInputCount, 2);
    const auto& in = data.m_pInputData;
    EXPECT_EQ(in[0].dwCounter1 + in[0].dwCounter2 + in[0].dwCounter3, 0u);   // record 0 stays zero
    EXPECT_EQ(std::make_tuple(in[1].dwCounter1, in[1].dwCounter3, in[1].dwCounter4), std::make_tuple(1u, 3u, 0u));
    EXPECT_EQ(std::tuple(in[2].dwCounter3, data.m_pValueData), std::tuple(0u, nullptr));   // 0xFFFFFFFF reads 0
    JSALERTDATA two(2);   // version 2 adds the second block
    ASSERT_EQ(decode(rig, jsAlert({{1, 2, 3, 4, 5}}), two), 0);
    EXPECT_EQ(std::tuple(two.m_pInputData[1].dwCounter4, two.m_pInputData[1].dwCounter5), std::tuple(4u, 5u));
}

// Full later-version decoding is checked end to end by the simulator round trip.
TEST(JobStatusAlert, ValuesOfAnotherSizeAndRepeatedDecodes) {
    PrinterRig rig;
    JSALERTDATA data(3);
    JSALERTDATA narrow(3);   // values of another size: the first id only, count 0
    ASSERT_EQ(decode(rig, jsAlert({}, "", "", {{0x21, 0}, {0x22, 0}}, 2), narrow), 0);
    ASSERT_NE(narrow.m_pInputData, nullptr);   // N = 0: record 0 only
    EXPECT_EQ(std::tuple(narrow.m_wValueCount, narrow.m_pValueData[1].byValueId, narrow.m_pValueData[2].byValueId,
                         narrow.m_wInputCount),
              std::tuple(0, 0x21, 0, 0));

    // A second decode replaces the arrays; job-information items add up.
    ASSERT_EQ(decode(rig, jsAlert({{1, 1, 1}, {2, 2, 2}}, "HT=h", "", {{5, 5}}), data), 0);
    ASSERT_EQ(decode(rig, jsAlert({{3, 3, 3}}, "JN=j", "", {}), data), 0);
    EXPECT_EQ(std::tuple(data.m_wInputCount, data.m_pInputData[1].dwCounter1, data.strHT, data.m_wValueCount),
              std::tuple(1, 3u, std::string("h"), 0));
    ASSERT_NE(data.m_pValueData, nullptr);   // no new values: the earlier list stays
    EXPECT_EQ(data.m_pValueData[1].dwValue, 5u);
}

TEST(JobStatusAlert, PrinterTypeOneCorrectsCountersAtSomeLevels) {
    const std::tuple<uint32_t, const char*, uint32_t, uint32_t, uint32_t, uint32_t> cases[] = {
        {1, "x3.1.0.0", 1000, 1200, 900, 1000},         {1, "x3.0.2.9", 1000, 1200, 900, 1000},
        {1, "x3.0.3.0", 1000, 1200, 1000, 1200},        {0, "x3.1.0.0", 1000, 1200, 1000, 1200},
        {1, "x3.1.0.0", 1200, 1000, 0x80000514, 1200},  // unsigned difference, logical shift
    };
    for (auto [type, level, a, b, c1, c2] : cases) {
        PrinterRig rig;
        rig.obj.m_dwPrinterType = type;
        rig.obj.m_strCodeLevel = level;
        JSALERTDATA data(1);
        ASSERT_EQ(decode(rig, jsAlert({{a, b, 0}}), data), 0);
        EXPECT_EQ(std::tuple(data.m_pInputData[1].dwCounter1, data.m_pInputData[1].dwCounter2), std::tuple(c1, c2))
            << level << " " << a;
    }
}

TEST(JobStatusAlert, ShortOrForeignAlertsLeaveTheObjectUntouched) {
    const Bytes full = jsAlert({{1, 2, 3}}, "JN=j", "t", {{1, 2}});
    const size_t versionOneEnd = full.size() - 10 - 3 - 5;
    for (uint32_t version : {1u, 3u}) {
        for (size_t cut = 0; cut < (version == 1 ? versionOneEnd : full.size()); ++cut) {
            PrinterRig rig;
            JSALERTDATA data(version);
            ASSERT_EQ(decode(rig, full.first(cut), data), -2) << version << " " << cut;
            EXPECT_EQ(std::tuple(data.m_pInputData, data.strJN), std::tuple(nullptr, std::string()));
        }
    }
    PrinterRig rig;
    JSALERTDATA data(1);
    EXPECT_EQ(decode(rig, full.first(versionOneEnd), data), 0);
    ByteVec foreign = full.vec();
    foreign[1] = 0x02;
    EXPECT_EQ(decode(rig, Bytes(foreign), data), -2);
}


#include <gtest/gtest.h>

#include <cstdio>
#include <sstream>
#include <tuple>

#include "golden.h"
#include "kvprtobj/jsalert.h"
#include "scripted_printer.h"

using namespace kvtest;

namespace {

long decode(PrinterRig& rig, const ByteVec& alert, JSALERTDATA& data) {
    rig.printer.setAlert(9, alert);
    return rig.obj.bidiJSQueryAlert(9, data);
}

// "vV[ type T LEVEL]: bytes" is the alert decoded into a record of version V by an object of printer type T
// at code level LEVEL: the result and the alert flag; the fields; a line per counter record 0 to N; the value
// records 0 to M (id=value; "-": no list).
std::string decoded(const std::string& input) {
    PrinterRig rig;
    std::istringstream words(input.substr(1, input.find(':') - 1));
    uint32_t version = 0;
    std::string type;
    words >> version >> type >> rig.obj.m_dwPrinterType >> rig.obj.m_strCodeLevel;
    JSALERTDATA a(version);
    const long rc = decode(rig, hex(input.substr(input.find(':') + 1)), a);
    char text[160];
    std::snprintf(text, sizeof text, "%ld flag=%d\n  headers=%02X/%04X/%04X status=%02X tag=%02X", rc,
                  rig.printer.alertFlags().back(), a.m_wHeaderA, a.m_wHeaderB, a.m_wHeaderC, a.m_dwStatusByte,
                  a.m_byValueTag);
    std::string out = text + (" job=" + a.strHT + "," + a.strUR + "," + a.strSC + "," + a.strJN + "," + a.strQU +
                              "," + a.strLS + "," + a.strOther + " text='" + a.m_strText + "'");
    for (unsigned i = 0; a.m_pInputData && i <= a.m_wInputCount; ++i) {
        const auto& c = a.m_pInputData[i];
        std::snprintf(text, sizeof text, "\n  counters %u=%08X/%08X/%08X/%08X/%08X", i, c.dwCounter1, c.dwCounter2,
                      c.dwCounter3, c.dwCounter4, c.dwCounter5);
        out += text;
    }
    out += std::string("\n  values") + (a.m_pValueData ? "" : " -");
    for (unsigned i = 0; a.m_pValueData && i <= a.m_wValueCount; ++i) {
        std::snprintf(text, sizeof text, " %02X=%08X", a.m_pValueData[i].byValueId, a.m_pValueData[i].dwValue);
        out += text;
    }
    return out;
}

}  // namespace

// Each version's blocks, job information, values of either width, and the counters
// corrected for printer type 1 at some code levels.
TEST(JobStatusAlert, VersionsOneToThreeAndTheCorrectedCounters) {
    expectGolden(KVPO_ALERTS_DIR "/jsalert.golden", decoded);
}

// Values of another width keep their ids though their count is 0. A second decode replaces
// the arrays; job-information items add up; no new values keep the earlier list.
TEST(JobStatusAlert, NarrowValuesAndRepeatedDecodes) {
    PrinterRig rig;
    JSALERTDATA narrow(3);
    ASSERT_EQ(decode(rig, hex("03 01 00 A1 B1B2 C1C2 0000 5B 00 00 EEEEEEEE 7A 02 02 21 22"), narrow), 0);
    EXPECT_EQ(std::tuple(narrow.m_pValueData[1].byValueId, narrow.m_pValueData[2].byValueId), std::tuple(0x21, 0));
    JSALERTDATA data(3);
    ASSERT_EQ(decode(rig, hex("03 01 02 A1 B1B2 C1C2  00000001 00000001 00000001  00000002 00000002 00000002 0000 5B"
                              " 04 48543D68 00 EEEEEEEE  0000 00000000 00000000  0000 00000000 00000000 7A 01 04"
                              " 05 00000005"),
                     data),
              0);
    ASSERT_EQ(decode(rig, hex("03 01 01 A1 B1B2 C1C2  00000003 00000003 00000003 0000 5B 04 4A4E3D6A 00 EEEEEEEE"
                              " 0000 00000000 00000000 7A 00 04"),
                     data),
              0);
    EXPECT_EQ(std::tuple(data.m_wInputCount, data.m_pInputData[1].dwCounter1, data.strHT, data.m_wValueCount),
              std::tuple(1, 3u, std::string("h"), 0));
    ASSERT_NE(data.m_pValueData, nullptr);
    EXPECT_EQ(data.m_pValueData[1].dwValue, 5u);
}

TEST(JobStatusAlert, ShortOrForeignAlertsLeaveTheObjectUntouched) {
    const ByteVec full = hex("03 01 01 A1 B1B2 C1C2  00000001 00000002 00000003 0000 5B 04 4A4E3D6A 01 74 EEEEEEEE"
                             "  0000 00000000 00000000 7A 01 04 01 00000002");
    const size_t versionOneEnd = full.size() - 10 - 3 - 5;
    for (uint32_t version : {1u, 3u}) {
        for (size_t cut = 0; cut < (version == 1 ? versionOneEnd : full.size()); ++cut) {
            PrinterRig rig;
            JSALERTDATA data(version);
            ASSERT_EQ(decode(rig, ByteVec(full.begin(), full.begin() + cut), data), -2) << version << " " << cut;
            EXPECT_EQ(std::tuple(data.m_pInputData, data.strJN), std::tuple(nullptr, std::string()));
        }
    }
    PrinterRig rig;
    JSALERTDATA data(1);
    EXPECT_EQ(decode(rig, ByteVec(full.begin(), full.begin() + versionOneEnd), data), 0);
    ByteVec foreign = full;
    foreign[1] = 0x02;
    EXPECT_EQ(decode(rig, foreign, data), -2);
}

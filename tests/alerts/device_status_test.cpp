#include <gtest/gtest.h>

#include <sstream>

#include "alert_list.h"
#include "golden.h"
#include "scripted_printer.h"

using namespace kvtest;
using PRINTERSTATUS = KVPrtObj::PRINTERSTATUS;
using OMVAREVENTDATA = KVPrtObj::OMVAREVENTDATA;

namespace {

// "status WORD: bytes" is a device status read into a client word WORD by request and by alert: each
// result and word, and the alert flags; "event: bytes" is a variable-event alert read into a record
// whose fields were EE: the result, type, value, variable id and whether value bytes were copied.
std::string decoded(const std::string& input) {
    PrinterRig rig;
    const ByteVec bytes = hex(input.substr(input.find(':') + 1));
    rig.printer.answer(0x01, reply(bytes));
    rig.printer.setAlert(4, bytes);
    std::ostringstream out;
    if (input.starts_with("event")) {
        OMVAREVENTDATA e;
        e.byEventType = e.byValue = e.abyVarId[0] = e.abyVarId[1] = 0xEE;
        out << rig.obj.bidiQueryOMVarEventAlert(4, &e) << " " << toHex(ByteVec{e.byEventType, e.byValue}) << " "
            << toHex(e.abyVarId, 2) << (e.pbyData ? " data" : " -");
        ::operator delete(e.pbyData);
        return out.str();
    }
    auto byRequest = withWord<PRINTERSTATUS>(std::stoul(input.substr(7), nullptr, 16)), byAlert = byRequest;
    out << rig.obj.bidiQueryDeviceStatus(&byRequest) << " " << toHex(Bytes().be32(word(byRequest)).vec()) << " "
        << rig.obj.bidiQueryDSAAlert(4, &byAlert) << " " << toHex(Bytes().be32(word(byAlert)).vec());
    for (int flag : rig.printer.alertFlags()) out << " flag " << flag;
    return out.str();
}

}  // namespace

// Bits 0 to 10 of the status word replaced by request and by alert; variable events of each type, malformed ones.
TEST(DeviceStatus, StatusWordsAndVariableEvents) { expectGolden(KVPO_ALERTS_DIR "/device_status.golden", decoded); }

TEST(DeviceStatus, MissingRecordFailuresAndUnknownAlerts) {
    PrinterRig rig;
    EXPECT_EQ(std::pair(rig.obj.bidiQueryDeviceStatus(nullptr), rig.obj.bidiQueryDSAAlert(4, nullptr)),
              std::pair(-18l, -18l));
    EXPECT_EQ(rig.printer.requestCount() + rig.printer.alertQueries().size(), 0u);

    rig.printer.answer(0x01, fail(-10));
    rig.printer.setAlert(5, {}, -11);
    auto status = withWord<PRINTERSTATUS>(0x12345678);
    EXPECT_EQ(std::pair(rig.obj.bidiQueryDeviceStatus(&status), rig.obj.bidiQueryDSAAlert(5, &status)),
              std::pair(-10l, -11l));
    EXPECT_EQ(word(status), 0x12345678u);
    OMVAREVENTDATA event;
    EXPECT_EQ(rig.obj.bidiQueryOMVarEventAlert(8, &event), -3);
}

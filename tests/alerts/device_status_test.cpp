#include <gtest/gtest.h>

#include <tuple>

#include "alert_list.h"
#include "scripted_printer.h"

using namespace kvtest;
using PRINTERSTATUS = KVPrtObj::PRINTERSTATUS;
using OMVAREVENTDATA = KVPrtObj::OMVAREVENTDATA;

TEST(DeviceStatus, ByRequestAndByAlertReplaceBitsZeroToTen) {
    const std::tuple<const char*, uint32_t, uint32_t> cases[] = {
        {"C1 0F 03", 0xABCDE800, 0xABCDE9FF}, {"C1 0F 03 FF FF", 0, 0x1FF},
        {"3E F0 F0", 0x7FF, 0},   // unread bits
        {"80 01 08", 0xFFFFFFFF, 0xFFFFFC0C},
    };
    for (auto [status, before, after] : cases) {
        SCOPED_TRACE(status);
        PrinterRig rig;
        rig.printer.answer(0x01, reply(hex(status)));
        rig.printer.setAlert(4, hex(status));
        auto byRequest = withWord<PRINTERSTATUS>(before), byAlert = byRequest;
        EXPECT_EQ(rig.obj.bidiQueryDeviceStatus(&byRequest), 0);
        EXPECT_EQ(rig.obj.bidiQueryDSAAlert(4, &byAlert), 0);
        EXPECT_EQ(std::tuple(word(byRequest), word(byAlert), rig.printer.alertFlags()),
                  std::tuple(after, after, std::vector<int>{2}));
    }
}

TEST(DeviceStatus, MissingRecordFailuresAndShortStatus) {
    PrinterRig rig;
    EXPECT_EQ(std::pair(rig.obj.bidiQueryDeviceStatus(nullptr), rig.obj.bidiQueryDSAAlert(4, nullptr)),
              std::pair(-18l, -18l));
    EXPECT_EQ(rig.printer.requestCount() + rig.printer.alertQueries().size(), 0u);

    rig.printer.answer(0x01, reply(hex("C1 0F")));
    rig.printer.answer(0x01, fail(-10));
    rig.printer.setAlert(4, hex("C1 0F"));
    rig.printer.setAlert(5, {}, -11);
    auto status = withWord<PRINTERSTATUS>(0x12345678);
    EXPECT_EQ((std::vector<long>{rig.obj.bidiQueryDeviceStatus(&status), rig.obj.bidiQueryDeviceStatus(&status),
                                 rig.obj.bidiQueryDSAAlert(4, &status), rig.obj.bidiQueryDSAAlert(5, &status)}),
              (std::vector<long>{-2, -10, -2, -11}));
    EXPECT_EQ(word(status), 0x12345678u);
}

// Both types are decoded in the round trip; here type 12 leaves the variable id alone.
TEST(VariableEvents, EachTypeWritesOnlyItsFields) {
    PrinterRig rig;
    rig.printer.setAlert(1, hex("03 40 0C 05"));
    OMVAREVENTDATA event;
    event.abyVarId[0] = 0x77;
    EXPECT_EQ(rig.obj.bidiQueryOMVarEventAlert(1, &event), 0);
    EXPECT_EQ(std::tuple(event.byEventType, event.byValue, event.abyVarId[0]), std::tuple(12, 5, 0x77));
    EXPECT_EQ(rig.obj.bidiQueryOMVarEventAlert(8, &event), -3);   // no such alert
}

TEST(VariableEvents, MalformedAlertsGiveBadReply) {
    // byEventType afterwards: only an unknown type is stored
    const std::pair<const char*, uint8_t> cases[] = {{"03 41 09 00 A6 01", 0xEE}, {"03 40 07 01", 0x07},
                                                     {"03 40 09 00", 0xEE},   // type 9 shorter than five bytes
                                                     {"03 40 0C", 0xEE},      // type 12 without its value
                                                     {"03 40", 0xEE},         {"", 0xEE}};
    for (auto [data, type] : cases) {
        SCOPED_TRACE(data);
        PrinterRig rig;
        rig.printer.setAlert(3, hex(data));
        OMVAREVENTDATA event;
        event.byEventType = event.byValue = 0xEE;
        EXPECT_EQ(rig.obj.bidiQueryOMVarEventAlert(3, &event), -2);
        EXPECT_EQ(std::tuple(event.byEventType, event.byValue, event.pbyData), std::tuple(type, 0xEE, nullptr));
    }
}

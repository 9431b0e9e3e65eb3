#include <gtest/gtest.h>

#include "alert_list.h"
#include "scripted_printer.h"

using namespace kvtest;
using PRINTERSTATUS = KVPrtObj::PRINTERSTATUS;
using OMVAREVENTDATA = KVPrtObj::OMVAREVENTDATA;

TEST(DeviceStatus, DecodesBitsZeroToTenAndKeepsTheRest) {
    struct Case {
        ByteVec status;
        uint32_t before;
        uint32_t after;
    };
    const Case cases[] = {
        {hex("C1 0F 03"), 0xABCDE800, 0xABCDE800 | 0x1FF},
        {hex("C1 0F 03 FF FF"), 0, 0x1FF},
        {hex("3E F0 F0"), 0x000007FF, 0},            // unread bits
        {hex("80 01 08"), 0xFFFFFFFF, 0xFFFFF800 | 0x404 | 0x08},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toHex(c.status));
        PrinterRig rig;
        rig.printer.answer(0x01, reply(c.status));
        rig.printer.setAlert(4, c.status);
        auto byRequest = withWord<PRINTERSTATUS>(c.before);
        auto byAlert = withWord<PRINTERSTATUS>(c.before);
        EXPECT_EQ(rig.obj.bidiQueryDeviceStatus(&byRequest), 0);
        EXPECT_EQ(rig.obj.bidiQueryDSAAlert(4, &byAlert), 0);
        EXPECT_EQ(word(byRequest), c.after);
        EXPECT_EQ(word(byAlert), c.after);
    }
    auto fields = withWord<PRINTERSTATUS>(0x1FF);
    EXPECT_EQ(fields.uStatusByte0Bit0, 1u);
    EXPECT_EQ(fields.uStatusByte0Bits67, 3u);
    EXPECT_EQ(fields.uStatusByte1, 15u);
    EXPECT_EQ(fields.uStatusByte2, 3u);
}

TEST(DeviceStatus, MissingRecordFailuresAndShortStatus) {
    PrinterRig rig;
    EXPECT_EQ(rig.obj.bidiQueryDeviceStatus(nullptr), -18);
    EXPECT_EQ(rig.obj.bidiQueryDSAAlert(4, nullptr), -18);
    EXPECT_EQ(rig.printer.requestCount(), 0u);
    EXPECT_TRUE(rig.printer.alertQueries().empty());

    rig.printer.answer(0x01, reply(hex("C1 0F")));
    rig.printer.answer(0x01, fail(-10));
    rig.printer.setAlert(4, hex("C1 0F"));
    rig.printer.setAlert(5, {}, -11);
    auto status = withWord<PRINTERSTATUS>(0x12345678);
    EXPECT_EQ(rig.obj.bidiQueryDeviceStatus(&status), -2);
    EXPECT_EQ(rig.obj.bidiQueryDeviceStatus(&status), -10);
    EXPECT_EQ(rig.obj.bidiQueryDSAAlert(4, &status), -2);
    EXPECT_EQ(rig.obj.bidiQueryDSAAlert(5, &status), -11);
    EXPECT_EQ(word(status), 0x12345678u);
    EXPECT_EQ(rig.printer.alertFlags(), (std::vector<int>{2, 2}));
}

TEST(VariableEvents, DecodeTheTwoEventTypes) {
    PrinterRig rig;
    rig.printer.setAlert(1, hex("03 40 0C 05"));
    rig.printer.setAlert(2, hex("03 40 09 00 A6 11 22 33 44"));
    OMVAREVENTDATA event;
    event.abyVarId[0] = 0x77;
    EXPECT_EQ(rig.obj.bidiQueryOMVarEventAlert(1, &event), 0);
    EXPECT_EQ(event.byEventType, 12);
    EXPECT_EQ(event.byValue, 5);
    EXPECT_EQ(event.abyVarId[0], 0x77);   // not named by type 12
    EXPECT_EQ(event.pbyData, nullptr);

    EXPECT_EQ(rig.obj.bidiQueryOMVarEventAlert(2, &event), 0);
    EXPECT_EQ(event.byEventType, 9);
    EXPECT_EQ(event.byValue, 5);
    EXPECT_EQ(event.abyVarId[0], 0x00);
    EXPECT_EQ(event.abyVarId[1], 0xA6);
    ASSERT_NE(event.pbyData, nullptr);
    EXPECT_EQ(toHex(event.pbyData, 4), "11 22 33 44");
    ::operator delete(event.pbyData);
}

TEST(VariableEvents, MalformedAlertsGiveBadReply) {
    struct Case {
        ByteVec data;
        uint8_t eventType;   // byEventType afterwards (0xEE: untouched)
    };
    const Case cases[] = {
        {hex("03 41 09 00 A6 01"), 0xEE},
        {hex("03 40 07 01"), 0x07},
        {hex("03 40 09 00"), 0xEE},   // type 9 shorter than five bytes
        {hex("03 40 0C"), 0xEE},      // type 12 without its value byte
        {hex("03 40"), 0xEE},
        {{}, 0xEE},
    };
    for (const Case& c : cases) {
        SCOPED_TRACE(toHex(c.data));
        PrinterRig rig;
        rig.printer.setAlert(3, c.data);
        OMVAREVENTDATA event;
        event.byEventType = 0xEE;
        event.byValue = 0xEE;
        EXPECT_EQ(rig.obj.bidiQueryOMVarEventAlert(3, &event), -2);
        EXPECT_EQ(event.byEventType, c.eventType);
        EXPECT_EQ(event.byValue, 0xEE);
        EXPECT_EQ(event.pbyData, nullptr);
    }
    PrinterRig rig;
    OMVAREVENTDATA event;
    EXPECT_EQ(rig.obj.bidiQueryOMVarEventAlert(8, &event), -3);   // no such alert
}

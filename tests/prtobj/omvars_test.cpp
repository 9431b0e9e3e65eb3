#include <gtest/gtest.h>

#include "scripted_printer.h"

using namespace kvtest;

namespace {
unsigned char kLock[2] = {0x00, 0x4D};

ByteVec take(void* data, unsigned long length) {
    ByteVec out(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + length);
    ::operator delete(data);
    return out;
}
}  // namespace

TEST(ObjectModelVariables, SetSendsIdAndValueAndChecksTheEcho) {
    PrinterRig rig;
    rig.printer.answer(0x4F, hex("00 00 4D"));
    rig.printer.answer(0x4F, hex("00 00 4E"));
    unsigned char value = 0x01;
    EXPECT_EQ(rig.obj.bidiSetOMVar(kLock, &value, 1), 0);
    EXPECT_EQ(rig.printer.lastRequest().data, hex("00 4D 01"));
    EXPECT_EQ(rig.obj.bidiSetOMVar(kLock, &value, 1), -2);
    EXPECT_EQ(rig.obj.bidiSetOMVar(kLock, nullptr, 0), -2);
    EXPECT_EQ(rig.printer.lastRequest().data, hex("00 4D"));
}

TEST(ObjectModelVariables, SetWithShortOrMissingReply) {
    PrinterRig rig;
    rig.printer.answer(0x4F, hex("00 00"));   // too short for the echo
    unsigned char value = 1;
    EXPECT_EQ(rig.obj.bidiSetOMVar(kLock, &value, 1), -2);
    PrinterRig failing;
    failing.printer.answer(0x4F, fail(-16));
    EXPECT_EQ(failing.obj.bidiSetOMVar(kLock, &value, 1), -16);
}

TEST(ObjectModelVariables, ReadKeepsTheIdMiscReadOnlyTheValue) {
    PrinterRig rig;
    rig.printer.setDefault(reply(hex("05 00 4D 01")));
    void* value = nullptr;
    unsigned long length = 99;
    ASSERT_EQ(rig.obj.bidiReadOMVar(kLock, &value, &length), 0);
    EXPECT_EQ(take(value, length), hex("00 4D 01"));
    EXPECT_EQ(rig.printer.lastRequest().code, 0x4E);
    EXPECT_EQ(rig.printer.lastRequest().capacity, 2048u);
    ASSERT_EQ(rig.obj.bidiReadMiscVar(kLock, &value, &length, 0), 0);
    EXPECT_EQ(take(value, length), hex("01"));
    EXPECT_EQ(rig.printer.lastRequest().code, 0x56);
}

TEST(ObjectModelVariables, ReadWithWrongOrShortEcho) {
    for (auto answer : {hex("05 00 4E 01"), hex("05 00"), hex("05")}) {
        PrinterRig rig;
        rig.printer.setDefault(reply(answer));
        void* value = reinterpret_cast<void*>(1);
        unsigned long length = 0;
        EXPECT_EQ(rig.obj.bidiReadOMVar(kLock, &value, &length), -2) << toHex(answer);
        EXPECT_EQ(value, nullptr);
        EXPECT_EQ(rig.obj.bidiReadMiscVar(kLock, &value, &length, 0), -2);
        EXPECT_EQ(value, nullptr);
    }
}

TEST(ObjectModelVariables, MiscReadPassesForce) {
    PrinterRig rig;
    rig.obj.setBidi(0);
    rig.printer.setDefault(reply(hex("00 00 4D 07")));
    void* value = nullptr;
    unsigned long length = 0;
    EXPECT_EQ(rig.obj.bidiReadMiscVar(kLock, &value, &length, 0), -11);
    EXPECT_EQ(rig.obj.bidiReadMiscVar(kLock, &value, &length, 1), 0);
    EXPECT_EQ(take(value, length), hex("07"));
    EXPECT_EQ(rig.obj.isBidiActive(), 1);
}

TEST(ObjectModelVariables, MultipleReadRecords) {
    PrinterRig rig;
    rig.printer.answer(0x94, hex("02 00 4D 01 07 07 54 03 41 42 43"));
    unsigned char ids[4] = {0x00, 0x4D, 0x07, 0x54};
    _MULTIOMVAR* vars = nullptr;
    unsigned short count = 0;
    ASSERT_EQ(rig.obj.bidiReadMultiOMVars(ids, 2, &vars, &count), 0u);
    auto r = rig.printer.lastRequest();
    EXPECT_EQ(r.code, 0x94);
    EXPECT_EQ(r.data, hex("02 00 4D 07 54"));
    EXPECT_EQ(r.capacity, 4000u);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(toHex(&vars[0].id, 2), "00 4D");
    EXPECT_EQ(vars[0].length, 1);
    EXPECT_EQ(vars[0].value[0], 0x07);
    EXPECT_EQ(toHex(&vars[1].id, 2), "07 54");
    EXPECT_EQ(vars[1].length, 3);
    EXPECT_EQ(toHex(vars[1].value, 3), "41 42 43");
    delete[] vars;
}

TEST(ObjectModelVariables, MultipleReadLongRecordsAreSteppedWhole) {
    // A 254-byte value advances the walk by 257 bytes; values longer than 33
    // bytes are cut to 33 in the record.
    Bytes reply;
    reply.u8(0).be16(0x0101).u8(254).fill(254, 0x11).be16(0x0202).u8(2).raw({0xAA, 0xBB});
    PrinterRig rig;
    rig.printer.answer(0x94, reply);
    unsigned char ids[4] = {1, 1, 2, 2};
    _MULTIOMVAR* vars = nullptr;
    unsigned short count = 0;
    ASSERT_EQ(rig.obj.bidiReadMultiOMVars(ids, 2, &vars, &count), 0u);
    ASSERT_EQ(count, 2);
    EXPECT_EQ(vars[0].length, 33);
    EXPECT_EQ(vars[0].value[32], 0x11);
    EXPECT_EQ(toHex(&vars[1].id, 2), "02 02");
    EXPECT_EQ(toHex(vars[1].value, 2), "AA BB");
    delete[] vars;
}

TEST(ObjectModelVariables, MultipleReadDropsARecordRunningPastTheReply) {
    PrinterRig rig;
    rig.printer.answer(0x94, hex("00 00 4D 01 07 07 54 09 41 42"));
    unsigned char ids[4] = {0x00, 0x4D, 0x07, 0x54};
    _MULTIOMVAR* vars = nullptr;
    unsigned short count = 0;
    ASSERT_EQ(rig.obj.bidiReadMultiOMVars(ids, 2, &vars, &count), 0u);
    ASSERT_EQ(count, 1);
    EXPECT_EQ(vars[0].value[0], 0x07);
    delete[] vars;
}

TEST(ObjectModelVariables, MultipleReadEmptyAndFailed) {
    unsigned char ids[2] = {0x00, 0x4D};
    for (auto answer : {reply(hex("")), reply(hex("00")), reply(hex("00 01"))}) {
        PrinterRig rig;
        rig.printer.answer(0x94, answer);
        _MULTIOMVAR* vars = reinterpret_cast<_MULTIOMVAR*>(1);
        unsigned short count = 9;
        EXPECT_EQ(rig.obj.bidiReadMultiOMVars(ids, 1, &vars, &count), 0u);
        EXPECT_EQ(vars, nullptr);
        EXPECT_EQ(count, 0);
    }
    PrinterRig rig;
    rig.printer.answer(0x94, fail(-10));
    _MULTIOMVAR* vars = nullptr;
    unsigned short count = 0;
    EXPECT_EQ(static_cast<long>(rig.obj.bidiReadMultiOMVars(ids, 1, &vars, &count)), -10);
}

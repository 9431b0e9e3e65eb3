#include <gtest/gtest.h>

#include <string>
#include <tuple>

#include "scripted_printer.h"

using namespace kvtest;

namespace {
unsigned char kLock[2] = {0x00, 0x4D};

struct Multi {
    unsigned long rc;
    std::vector<std::pair<std::string, ByteVec>> vars;   // id in hex, value
};

Multi readMulti(const Answer& answer, int n = 2) {
    PrinterRig rig;
    rig.printer.answer(0x94, answer);
    unsigned char ids[4] = {0x00, 0x4D, 0x07, 0x54};
    _MULTIOMVAR* vars = reinterpret_cast<_MULTIOMVAR*>(1);
    unsigned short count = 9;
    Multi out{rig.obj.bidiReadMultiOMVars(ids, static_cast<unsigned short>(n), &vars, &count), {}};
    auto r = rig.printer.lastRequest();
    EXPECT_EQ(std::tuple(r.code, r.data, r.capacity),
              std::tuple(0x94, n == 2 ? hex("02 00 4D 07 54") : hex("01 00 4D"), 4000ul));
    EXPECT_TRUE(out.rc != 0 || vars || count == 0) << count;
    for (unsigned short i = 0; vars && i < count; ++i)
        out.vars.emplace_back(toHex(&vars[i].id, 2), ByteVec(vars[i].value, vars[i].value + vars[i].length));
    if (out.rc == 0) delete[] vars;
    return out;
}
}  // namespace

TEST(ObjectModelVariables, SetSendsIdAndValueAndChecksTheEcho) {
    const std::pair<Answer, long> cases[] = {{reply(hex("00 00 4D")), 0}, {reply(hex("00 00 4E")), -2},
                          {reply(hex("00 00")), -2},    {fail(-16), -16}};
    unsigned char value = 0x01;
    for (const auto& [answer, rc] : cases) {
        PrinterRig rig;
        rig.printer.answer(0x4F, answer);
        EXPECT_EQ(rig.obj.bidiSetOMVar(kLock, &value, 1), rc);
        EXPECT_EQ(rig.printer.lastRequest().data, hex("00 4D 01"));
    }
}

// Both reads of a variable run in the round trip; here the force of the miscellaneous read.
TEST(ObjectModelVariables, MiscReadWithForceAndReadsWithWrongOrShortEcho) {
    PrinterRig rig;
    rig.printer.setDefault(reply(hex("05 00 4D 01")));
    void* value = nullptr;
    unsigned long length = 99;
    rig.obj.setBidi(0);
    EXPECT_EQ(rig.obj.bidiReadMiscVar(kLock, &value, &length, 0), -11);
    ASSERT_EQ(rig.obj.bidiReadMiscVar(kLock, &value, &length, 1), 0);
    EXPECT_EQ(std::tuple(take(value, length), rig.printer.lastRequest().code, rig.obj.isBidiActive()),
              std::tuple(hex("01"), 0x56, 1));

    for (auto answer : {hex("05 00 4E 01"), hex("05 00"), hex("05")}) {   // a wrong or short echo
        rig.printer.setDefault(reply(answer));
        value = reinterpret_cast<void*>(1);
        long rc = rig.obj.bidiReadOMVar(kLock, &value, &length);
        EXPECT_EQ(std::tuple(rc, value), std::tuple(-2l, nullptr)) << toHex(answer);
        rc = rig.obj.bidiReadMiscVar(kLock, &value, &length, 0);
        EXPECT_EQ(std::tuple(rc, value), std::tuple(-2l, nullptr)) << toHex(answer);
    }
}

TEST(ObjectModelVariables, MultipleRead) {
    using Vars = decltype(Multi::vars);   // whole replies: see the round trip
    // A record running past the reply is dropped.
    EXPECT_EQ(readMulti(reply(hex("00 00 4D 01 07 07 54 09 41 42"))).vars, (Vars{{"00 4D", {0x07}}}));
    // A 254-byte value advances the walk by 257 bytes and is cut to 33 bytes.
    Bytes longValue;
    longValue.u8(0).be16(0x004D).u8(254).fill(254, 0x11).be16(0x0754).u8(2).raw({0xAA, 0xBB});
    EXPECT_EQ(readMulti(reply(longValue)).vars, (Vars{{"00 4D", ByteVec(33, 0x11)}, {"07 54", hex("AA BB")}}));
    for (const char* empty : {"", "00", "00 01"}) EXPECT_EQ(readMulti(reply(hex(empty)), 1).vars, Vars{}) << empty;
    EXPECT_EQ(static_cast<long>(readMulti(fail(-10), 1).rc), -10);
}

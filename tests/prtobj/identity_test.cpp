#include <gtest/gtest.h>

#include <tuple>

#include "scripted_printer.h"

using namespace kvtest;

namespace {
// The misc-variable reply: byte 0 not read, the echoed id, then the value.
Answer miscVar(unsigned id, const ByteVec& value) { return reply(Bytes().u8(0).be16(id).raw(value)); }
}  // namespace

// The information and the address themselves are read in the round trip.
TEST(PrinterIdentity, OnlyTheBidiInformationReadRefreshes) {
    PrinterRig rig;
    PRTINFO out{};
    EXPECT_EQ(rig.obj.getPrinterInfo(&out), 0);
    EXPECT_EQ(rig.obj.bidiGetPrinterInfo(&out), 0);
    EXPECT_EQ(rig.printer.prtInfoRefreshes(), (std::vector<int>{0, 1}));
    rig.printer.setPrtInfoResult(-17);
    EXPECT_EQ(rig.obj.getPrinterInfo(&out), -17);
}

TEST(PrinterIdentity, PrinterTypeByTable) {
    const std::pair<uint8_t, unsigned long> cases[] = {{0, 0}, {1, 0xFFFFFFFF}, {2, 0}, {3, 0}, {4, 0xFFFFFFFF},
                                                       {5, 1}, {6, 1},          {8, 1}, {9, 0xFFFFFFFF}, {255, 0xFFFFFFFF}};
    for (auto [raw, type] : cases) {
        PrinterRig rig;
        rig.printer.answer(0x56, miscVar(0x00A7, {raw, 0x77}));
        unsigned long t = 12345, r = 12345, family = 12345, own = 0;
        EXPECT_EQ(rig.obj.bidiGetPrinterType(&t, &r), 0);
        rig.obj.getPrinterType(&own, nullptr);   // the object's own type is not changed
        EXPECT_EQ(std::tuple(t, r, rig.printer.lastRequest().data, own),
                  std::tuple(type, static_cast<unsigned long>(raw), hex("00 A7"), 0xFFFFFFFFul))
            << int(raw);
        // A known type is the family.
        EXPECT_TRUE(type == 0xFFFFFFFF || (rig.obj.bidiGetPrinterFamily(&family) == 0 && family == type)) << family;
    }
    PrinterRig rig;   // no value: a bad reply, nothing written
    rig.printer.answer(0x56, miscVar(0x00A7, {}));
    unsigned long t = 7, r = 7;
    EXPECT_EQ(rig.obj.bidiGetPrinterType(&t, &r), -2);
    EXPECT_EQ(std::pair(t, r), std::pair(7ul, 7ul));
}

TEST(PrinterIdentity, FamilyFallsBackToItsVariableOnlyOnInvalid) {
    PrinterRig rig;
    rig.printer.answer(0x56, fail(-3));
    rig.printer.answer(0x56, miscVar(0x00B2, {0x21}));
    unsigned long family = 0;
    EXPECT_EQ(rig.obj.bidiGetPrinterFamily(&family), 0);
    EXPECT_EQ(std::tuple(family, rig.printer.lastRequest().data), std::tuple(0x21ul, hex("00 B2")));

    PrinterRig down;
    down.printer.answer(0x56, fail(-11));
    family = 5;
    EXPECT_EQ(down.obj.bidiGetPrinterFamily(&family), -11);
    EXPECT_EQ(std::tuple(down.printer.requestCount(), family), std::tuple(1u, 5ul));

    // The fallback read is forced: it goes out on an object marked inactive meanwhile.
    struct Host : OpenPrtObj {
        using OpenPrtObj::OpenPrtObj;
        long bidiGetPrinterType(unsigned long*, unsigned long*) override {
            setBidi(0);
            return -3;
        }
    };
    AttachedPrinter printer;
    Host host(printer.handle, 0);
    printer->answer(0x56, miscVar(0x00B2, {0x42}));
    EXPECT_EQ(host.bidiGetPrinterFamily(&family), 0);
    EXPECT_EQ(std::tuple(family, host.isBidiActive()), std::tuple(0x42ul, 1));
}

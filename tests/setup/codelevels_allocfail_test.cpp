#include <gtest/gtest.h>

#include "alloc_failure.h"
#include "scripted_printer.h"

using namespace kvtest;

TEST(CodeLevels, WorkingCopyFailureIsABadReply) {
    PrinterRig rig;
    const std::string text = "ENG: 1.2.3.4.5.6.7.8.9.10.11.12.13.14\n";   // working copy: text, line feed, zero byte
    rig.printer.answer(0x56, Bytes().u8(0x00).u8(0x00).u8(0xA6).text(text));
    failAllocationsOfSize(text.size() + 2);
    int count = 7;
    KVPrtObj::CODELEVELS* array = nullptr;
    long rc = rig.obj.bidiGetCodeLevels(count, &array);
    stopAllocationFailures();
    EXPECT_EQ(rc, -2);
    EXPECT_EQ(count, 7);
    EXPECT_EQ(array, nullptr);
}

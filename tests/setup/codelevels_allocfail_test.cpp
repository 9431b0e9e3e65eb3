// Allocation failures of the code levels and the job list.
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

// A job count that the reply cannot hold (found by fuzzing) costs no more
// than the reply: the array that count would need is never asked for.
TEST(QueryJobs, CountsTheReplyCannotHoldAreNotAllocated) {
    PrinterRig rig;
    rig.printer.answer(0x75, Bytes().u8(0).be16(0xFFFF).zeros(2).be16(3).raw({0, 0, 0}));   // job number 0 ends it
    failAllocationsOfSize(0xFFFF * sizeof(KVPrtObj::KVPJOBDATA) + sizeof(size_t));
    unsigned int count = 9;
    KVPrtObj::KVPJOBDATA* jobs = nullptr;
    long rc = rig.obj.bidiQueryJobs(0, &count, &jobs);
    stopAllocationFailures();
    EXPECT_EQ(rc, 0);
    EXPECT_EQ(count, 0u);
    delete[] jobs;
}

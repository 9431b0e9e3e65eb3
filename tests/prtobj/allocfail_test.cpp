// -18 when the transport cannot allocate its buffers. The global operator new
// of this program fails on request (kvtest_allocfail).
#include <gtest/gtest.h>

#include "alloc_failure.h"
#include "kvprtobj/helpers.h"
#include "scripted_printer.h"

using namespace kvtest;

class AllocationFailure : public ::testing::Test {
protected:
    void TearDown() override { stopAllocationFailures(); }
};

TEST_F(AllocationFailure, TransportBuffersGiveNoMemory) {
    failAllocationsOfSize(333);
    EXPECT_EQ(kvPrtObjNew(333), nullptr);
    unsigned char* p = kvPrtObjNew(333);
    ASSERT_NE(p, nullptr);
    ::operator delete(p);

    PrinterRig rig;   // the first reply buffer: no send
    failAllocationsOfSize(2048);
    void* data = reinterpret_cast<void*>(1);
    unsigned long length = 0;
    EXPECT_EQ(rig.obj.bidiQuery(0x10, nullptr, 0, &data, &length, 1, 0), -18);
    EXPECT_EQ(rig.printer.requestCount(), 0u);
    EXPECT_EQ(rig.obj.isBidiActive(), 1);
}

TEST_F(AllocationFailure, GrowthStopsAtOnceWithNullReply) {
    PrinterRig rig;
    rig.obj.setBidiRetryCount(3);
    rig.printer.setDefault(fail(-18));
    failAllocationsOfSize(8192);
    void* data = reinterpret_cast<void*>(1);
    unsigned long length = 0;
    EXPECT_EQ(rig.obj.bidiQuery(0x10, nullptr, 0, &data, &length, 1, 1), -18);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(rig.printer.requestCount(), 2u);   // 2048 and 4096, no further attempt
    rig.obj.setBidi(0);
}

TEST_F(AllocationFailure, AlertBufferAndCopy) {
    PrinterRig rig;
    rig.printer.setAlert(4, ByteVec(777, 1));
    void* data = nullptr;
    unsigned long length = 0;
    failAllocationsOfSize(2048);
    EXPECT_EQ(rig.obj.bidiQueryAlert(4, 0x5F4, &data, &length, 2), -18);
    EXPECT_TRUE(rig.printer.alertQueries().empty());
    failAllocationsOfSize(777);
    EXPECT_EQ(rig.obj.bidiQueryAlert(4, 0x5F4, &data, &length, 2), -18);
    EXPECT_EQ(data, nullptr);
}

TEST_F(AllocationFailure, VariableBuffers) {
    PrinterRig rig;
    unsigned char id[2] = {0x01, 0x02};
    unsigned char value[1000] = {};
    failAllocationsOfSize(1002);   // the request: id and value
    EXPECT_EQ(rig.obj.bidiSetOMVar(id, value, sizeof value), -18);
    EXPECT_EQ(rig.printer.requestCount(), 0u);

    rig.printer.setDefault(reply(Bytes().u8(0).raw({0x01, 0x02}).fill(500, 7)));
    void* out = nullptr;
    unsigned long length = 0;
    failAllocationsOfSize(502);   // the copy of id and value
    EXPECT_EQ(rig.obj.bidiReadOMVar(id, &out, &length), -18);
    EXPECT_EQ(out, nullptr);
}

// Record arrays that cannot be allocated: the array pointer becomes null, the
// count is the one the reply gave, and the result is -18.
#include <gtest/gtest.h>

#include "alloc_failure.h"
#include "scripted_printer.h"

using namespace kvtest;

namespace {

// What new T[n] asks of operator new[]: the records and the count before them.
template <typename T>
size_t arrayBytes(size_t n) {
    return n * sizeof(T) + sizeof(size_t);
}

struct ArrayFailure : ::testing::Test {
    PrinterRig rig;
    void answer(const Bytes& bytes) {
        rig.printer.setHandler([r = bytes.vec()](const SentRequest&) { return reply(r); });
    }
    ~ArrayFailure() override { stopAllocationFailures(); }
};

}  // namespace

TEST_F(ArrayFailure, Bins) {
    answer(Bytes().u8(3).zeros(3 * 32));   // three unnamed bins
    unsigned int count = 0;
    KVPrtObj::INPUTBIN* inputs = new KVPrtObj::INPUTBIN[1];
    KVPrtObj::INPUTBIN* given = inputs;
    failAllocationsOfSize(arrayBytes<KVPrtObj::INPUTBIN>(3));
    EXPECT_EQ(rig.obj.bidiGetInputChars(&count, &inputs), -18);
    EXPECT_EQ(inputs, nullptr);
    EXPECT_EQ(count, 3u);
    delete[] given;

    answer(Bytes().u8(3).zeros(27));
    count = 0;
    KVPrtObj::OUTPUTBIN* outputs = nullptr;
    failAllocationsOfSize(arrayBytes<KVPrtObj::OUTPUTBIN>(3));
    EXPECT_EQ(rig.obj.bidiGetOutputChars(&count, &outputs), -18);
    EXPECT_EQ(outputs, nullptr);
    EXPECT_EQ(count, 3u);
}

TEST_F(ArrayFailure, FontsAndSymbolSets) {
    answer(Bytes().u8(0).be16(3).u8(0).raw({1, 0, 0, 0}).raw({2, 0, 0, 0}).raw({3, 0, 0, 0}));
    unsigned short count = 99;
    _FONTDETAILS* fonts = nullptr;
    failAllocationsOfSize(arrayBytes<_FONTDETAILS>(3));
    EXPECT_EQ(rig.obj.bidiGetFontDetails(0, 0, &count, &fonts), -18);
    EXPECT_EQ(fonts, nullptr);
    EXPECT_EQ(count, 0);   // the count of fonts decoded

    answer(Bytes().u8(0).be16(3).zeros(33));
    _SYMBOLSET* sets = nullptr;
    failAllocationsOfSize(arrayBytes<_SYMBOLSET>(3));
    EXPECT_EQ(rig.obj.bidiGetSymbolSetList(&count, &sets), -18);
    EXPECT_EQ(sets, nullptr);
    EXPECT_EQ(count, 3);
}

// A count that the reply cannot hold (found by fuzzing: five bytes made the
// library build 65535 records) costs no more than the reply: the array that
// count would need is never asked for.
TEST_F(ArrayFailure, CountsTheReplyCannotHoldAreNotAllocated) {
    answer(Bytes().u8(0).be16(0xFFFF).u8(0).raw({1, 0, 0, 0}));
    unsigned short count = 0;
    _FONTDETAILS* fonts = nullptr;
    failAllocationsOfSize(arrayBytes<_FONTDETAILS>(0xFFFF));
    EXPECT_EQ(rig.obj.bidiGetFontDetails(0, 0, &count, &fonts), -2);   // the second record is missing
    EXPECT_EQ(count, 1);
    delete[] fonts;

    answer(Bytes().u8(0).be16(0xFFFF).zeros(11));
    _SYMBOLSET* sets = nullptr;
    failAllocationsOfSize(arrayBytes<_SYMBOLSET>(0xFFFF));
    EXPECT_EQ(rig.obj.bidiGetSymbolSetList(&count, &sets), -2);
    EXPECT_EQ(sets, nullptr);
}

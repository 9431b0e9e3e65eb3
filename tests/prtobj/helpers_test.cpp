#include <gtest/gtest.h>

#include <climits>
#include <cstring>

#include "bytes.h"
#include "kvprtobj/kvprtobj.h"

using kvtest::hex;

TEST(ByteOrder, SwapsInPlace) {
    auto b = hex("12 34 56 78");
    fourByteSwap(b.data());
    EXPECT_EQ(b, hex("78 56 34 12"));
    twoByteSwap(b.data() + 1);
    EXPECT_EQ(b, hex("78 34 56 12"));
}

TEST(ByteOrder, ReversedCopyLeavesTheSource) {
    auto src = hex("12 34 56 78");
    auto dst = hex("00 00 00 00 AA");
    nByteSwap(dst.data(), src.data(), 4);
    EXPECT_EQ(dst, hex("78 56 34 12 AA"));
    EXPECT_EQ(src, hex("12 34 56 78"));
    nByteSwap(dst.data(), src.data(), 0);
    EXPECT_EQ(dst, hex("78 56 34 12 AA"));
}

TEST(ByteOrder, UnalignedReadsInHostOrder) {
    auto b = hex("FF 01 02 03 04");
    EXPECT_EQ(MakeUSHORT(b.data() + 1), 0x0201);
    EXPECT_EQ(MakeUINT(b.data() + 1), 0x04030201u);
    EXPECT_EQ(MakeULONG(b.data() + 1), 0x04030201ul);
}

TEST(ReverseBitsTest, MirrorsEveryByte) {
    EXPECT_EQ(ReverseBits(0x01), 0x80);
    EXPECT_EQ(ReverseBits(0xA0), 0x05);
    for (unsigned v = 0; v < 256; ++v) EXPECT_EQ(ReverseBits(ReverseBits(static_cast<unsigned char>(v))), v);
}

TEST(SizeToStringTest, GroupsThousands) {
    const std::pair<long, const char*> cases[] = {
        {0, "0"},           {-5, "0"},           {LONG_MIN, "0"},           {5, "  5"},
        {999, "999"},       {1000, "1,000"},     {1234567, "1,234,567"},   {1000001, "1,000,001"},
        {2147483647, "2147,483,647"}, {LONG_MAX, "9223372036854,775,807"},
    };
    for (auto [n, text] : cases) {
        char buf[kSizeToStringBuffer];
        SizeToString(n, buf);
        EXPECT_STREQ(buf, text) << n;
    }
}

TEST(SizeToStringTest, NeverWritesPastTheDocumentedBuffer) {
    char buf[kSizeToStringBuffer + 8];
    std::memset(buf, '#', sizeof buf);
    SizeToString(LONG_MAX, buf);
    EXPECT_EQ(std::strlen(buf), kSizeToStringBuffer - 1);
    for (size_t i = kSizeToStringBuffer; i < sizeof buf; ++i) EXPECT_EQ(buf[i], '#');
}

TEST(TraceHook, IgnoresItsArgument) { kvpoTrace(12345); }

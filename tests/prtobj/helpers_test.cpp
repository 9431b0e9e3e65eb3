#include <gtest/gtest.h>

#include <climits>
#include <cstring>
#include <tuple>

#include "bytes.h"
#include "kvprtobj/kvprtobj.h"

using kvtest::hex;

TEST(ByteOrder, SwapsCopiesAndUnalignedReads) {
    auto b = hex("12 34 56 78");
    fourByteSwap(b.data());
    EXPECT_EQ(b, hex("78 56 34 12"));
    twoByteSwap(b.data() + 1);
    EXPECT_EQ(b, hex("78 34 56 12"));
    auto src = hex("12 34 56 78");
    auto dst = hex("00 00 00 00 AA");
    nByteSwap(dst.data(), src.data(), 4);
    EXPECT_EQ(std::pair(dst, src), std::pair(hex("78 56 34 12 AA"), hex("12 34 56 78")));
    auto u = hex("FF 01 02 03 04");
    EXPECT_EQ(std::tuple(MakeUSHORT(u.data() + 1), MakeULONG(u.data() + 1), ReverseBits(0xA0)),
              std::tuple(0x0201, 0x04030201ul, 0x05));
    for (unsigned v = 0; v < 256; ++v) EXPECT_EQ(ReverseBits(ReverseBits(static_cast<unsigned char>(v))), v);
}

TEST(SizeToStringTest, GroupsThousandsWithinTheDocumentedBuffer) {
    const std::pair<long, const char*> cases[] = {
        {-5, "0"},    {LONG_MIN, "0"},       {5, "  5"},      {999, "999"}, {1000, "1,000"},
        {1000001, "1,000,001"}, {2147483647, "2147,483,647"}, {LONG_MAX, "9223372036854,775,807"},
    };
    for (auto [n, text] : cases) {
        char buf[kSizeToStringBuffer + 8];
        std::memset(buf, '#', sizeof buf);
        SizeToString(n, buf);
        EXPECT_STREQ(buf, text) << n;
        for (size_t i = kSizeToStringBuffer; i < sizeof buf; ++i) EXPECT_EQ(buf[i], '#');
    }
}

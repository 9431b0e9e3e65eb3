#include <gtest/gtest.h>
#include "kvprtobj/kvprtobj.h"
TEST(Helpers, ReverseBits) { EXPECT_EQ(ReverseBits(0x01), 0x80); }

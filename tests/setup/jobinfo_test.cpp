#include <gtest/gtest.h>

#include <string>

#include "kvprtobj/jobs.h"

namespace {
void parse(JOBINFOSTRINGS& info, const std::string& text) {
    info.parseJobInfo(static_cast<unsigned char>(text.size()), text.data());
}
}  // namespace

TEST(JobInfo, SecondTextAddsToTheFirstKeysAndItemsEachEndingAtItsLengthOrAZeroByte) {
    JOBINFOSTRINGS info;
    parse(info, "HT=a;JN=b");
    parse(info, "UR=c;LS=d");
    EXPECT_EQ(info.strHT + info.strJN + info.strUR + info.strLS, "abcd");
    parse(info, "SC=e");   // LS and Other are emptied by every call
    EXPECT_EQ(info.strLS + "|" + info.strSC + "|" + info.strJN, "|e|b");
    parse(info, ";;jn=f;Qu:q q;XY=z;;");
    EXPECT_EQ(info.strJN + "|" + info.strQU + "|" + info.strOther, "f|q q|XY");   // the key, not the value
    parse(info, "JN;H;HT=");   // items without value change nothing
    EXPECT_EQ(info.strJN + "|" + info.strOther + "|" + info.strHT, "f||");   // three characters: an empty value

    // A text ends at its length or a zero byte.
    info.parseJobInfo(4, "JN=bcd");
    const char withZero[] = "UR=u\0HT=h";
    info.parseJobInfo(sizeof withZero - 1, withZero);
    EXPECT_EQ(info.strJN + "|" + info.strUR + "|" + info.strHT, "b|u|");
    info.strOther = "x";
    info.parseJobInfo(0, "HT=h");
    info.parseJobInfo(3, nullptr);
    EXPECT_EQ(info.strHT + info.strOther, "");
}

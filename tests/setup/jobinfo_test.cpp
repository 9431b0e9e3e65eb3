#include <gtest/gtest.h>

#include <string>

#include "kvprtobj/jobs.h"

namespace {
void parse(JOBINFOSTRINGS& info, const std::string& text) {
    info.parseJobInfo(static_cast<unsigned char>(text.size()), text.data());
}
}  // namespace

TEST(JobInfo, SecondTextAddsToTheFirst) {
    JOBINFOSTRINGS info;
    parse(info, "HT=a;JN=b");
    parse(info, "UR=c;LS=d");
    EXPECT_EQ(info.strHT, "a");
    EXPECT_EQ(info.strJN, "b");
    EXPECT_EQ(info.strUR, "c");
    EXPECT_EQ(info.strLS, "d");
    parse(info, "SC=e");   // LS and Other are emptied by every call
    EXPECT_EQ(info.strLS, "");
    EXPECT_EQ(info.strSC, "e");
    EXPECT_EQ(info.strJN, "b");
}

TEST(JobInfo, KeysAndItems) {
    JOBINFOSTRINGS info;
    parse(info, ";;jn=b;Qu:q q;XY=z;;");
    EXPECT_EQ(info.strJN, "b");
    EXPECT_EQ(info.strQU, "q q");
    EXPECT_EQ(info.strOther, "XY");   // the key, not the value
}

TEST(JobInfo, ItemsWithoutValueChangeNothing) {
    JOBINFOSTRINGS info;
    info.strJN = "keep";
    parse(info, "JN;H;HT=");
    EXPECT_EQ(info.strJN, "keep");
    EXPECT_EQ(info.strOther, "");
    EXPECT_EQ(info.strHT, "");   // three characters: an empty value
}

TEST(JobInfo, TextEndsAtItsLengthOrAZeroByte) {
    JOBINFOSTRINGS info;
    info.parseJobInfo(4, "JN=bcd");
    EXPECT_EQ(info.strJN, "b");
    const char withZero[] = "UR=u\0HT=h";
    info.parseJobInfo(sizeof withZero - 1, withZero);
    EXPECT_EQ(info.strUR, "u");
    EXPECT_EQ(info.strHT, "");
    info.strOther = "x";
    info.parseJobInfo(0, "HT=h");
    info.parseJobInfo(3, nullptr);
    EXPECT_EQ(info.strHT, "");
    EXPECT_EQ(info.strOther, "");
}

// The alert texts kvprt is built with. kvprt run as a program is in the transcripts
// refusals.golden.md and kvprt.golden.md, which docs_examples_test runs.
#include <gtest/gtest.h>

#include "tools/kvprt/texts.h"

namespace {

// Every alert id the decoders produce has a text of its own.
TEST(KvprtTexts, EveryProducedIdHasItsText) {
    const std::pair<unsigned, unsigned> ranges[] = {{6102, 6108}, {6113, 6115}, {6117, 6141}, {6164, 6164}, {6166, 6169},
                                                    {6171, 6178}, {6182, 6184}, {6188, 6188}, {6190, 6204}, {6208, 6209},
                                                    {6219, 6224}, {6226, 6257}};
    for (auto [first, last] : ranges)   // first to last
        for (unsigned id = first; id <= last; ++id) EXPECT_TRUE(kvprt::knownAlert(id)) << id;
    EXPECT_EQ(kvprt::alertText(6209, 0x0203), "Input source 2: paper level unknown");
    EXPECT_EQ(kvprt::alertText(6113, 4), "Input source 4 is empty");
    for (unsigned id = 7101; id <= 7112; ++id) EXPECT_NE(kvprt::inputBinText(id), kvprt::inputBinText(0)) << id;
    for (unsigned id = 7203; id <= 7224; ++id) EXPECT_NE(kvprt::outputBinText(id), kvprt::outputBinText(0)) << id;
    EXPECT_NE(kvprt::outputBinText(7201), kvprt::outputBinText(0));   // 7202 is given to no bin
    for (unsigned code = 7701; code <= 7710; ++code) EXPECT_NE(kvprt::componentText(code), kvprt::componentText(0));
}

}  // namespace

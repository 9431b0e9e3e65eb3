// kvprt run as a program: what its commands print, compared whole with
// golden files. The documented examples and the transcripts
// refusals.golden.md and kvprt.golden.md (refusals, hostile printer texts,
// printers that fail, failed receives, fleets, signals, versions) run in
// docs_examples_test.
#include <iterator>
#include <sstream>

#include <gtest/gtest.h>

#include "run_kvprt.h"
#include "sim_daemon.h"
#include "tools/kvprt/texts.h"

namespace {

using nlohmann::json;
using kvtest::Outcome;
using kvtest::runKvprt;
using kvtest::SimDaemon;

// commands.golden.json: a command line -> its JSON, each on a printer of its
// own; the commands that change the printer, and those the report and the
// documented examples do not show.
TEST(Kvprt, EveryCommandOnAPrinterOfItsOwn) {
    const json golden = json::parse(kvtest::readText(KVPRT_GOLDEN_DIR "/commands.golden.json"));
    for (const auto& [line, expected] : golden.items()) {
        std::istringstream args("--json --printer sim: " + line);
        Outcome run = runKvprt({std::istream_iterator<std::string>(args), {}});
        ASSERT_EQ(run.status, 0) << line << ": " << run.err;
        EXPECT_EQ(run.parsed(), expected) << line;
    }
}

// The report holds what every reading command shows: the same on the
// embedded printer and over TCP, and for people.
TEST(Kvprt, ReportOnTheEmbeddedPrinterAndOverTcp) {
    SimDaemon daemon(KVPRTSIMD, {});
    json expected = json::parse(kvtest::readText(KVPRT_GOLDEN_DIR "/report.golden.json"));
    for (const std::string& uri : {std::string("sim:"), daemon.uri()}) {
        expected["printer"]["uri"] = uri;
        Outcome run = runKvprt({"--json", "--printer", uri, "report"});
        ASSERT_EQ(run.status, 0) << run.err;
        EXPECT_EQ(run.parsed(), expected) << uri;
    }
    Outcome run = runKvprt({"report"});
    EXPECT_EQ(run.status, 0) << run.err;
    EXPECT_EQ(run.out, kvtest::readText(KVPRT_GOLDEN_DIR "/report.golden.txt"));
}

// Every alert id the decoders produce has a text of its own.
TEST(KvprtTexts, EveryProducedIdHasItsText) {
    // Ranges of produced ids, first to last.
    const std::pair<unsigned, unsigned> ranges[] = {{6102, 6108}, {6113, 6115}, {6117, 6141}, {6164, 6164}, {6166, 6169},
                                                    {6171, 6178}, {6182, 6184}, {6188, 6188}, {6190, 6204}, {6208, 6209},
                                                    {6219, 6224}, {6226, 6257}};
    for (auto [first, last] : ranges)
        for (unsigned id = first; id <= last; ++id) EXPECT_TRUE(kvprt::knownAlert(id)) << id;
    EXPECT_EQ(kvprt::alertText(6209, 0x0203), "Input source 2: state 3");
    EXPECT_EQ(kvprt::alertText(6113, 4), "Input source 4 is empty");
    for (unsigned id = 7101; id <= 7112; ++id) EXPECT_NE(kvprt::inputBinText(id), kvprt::inputBinText(0)) << id;
    for (unsigned id = 7203; id <= 7224; ++id) EXPECT_NE(kvprt::outputBinText(id), kvprt::outputBinText(0)) << id;
    EXPECT_NE(kvprt::outputBinText(7201), kvprt::outputBinText(0));   // 7202 is given to no bin
    for (unsigned code = 7701; code <= 7710; ++code) EXPECT_NE(kvprt::componentText(code), kvprt::componentText(0));
}

}  // namespace

// The IPP fill: attributes => the snapshot's fields (golden files), the state
// reasons table through the library's alert decoder, the job numbers.
#include <gtest/gtest.h>

#include "encoders.h"
#include "golden.h"
#include "ipp/fill.h"
#include "ipp/reasons.h"
#include "snapshot_text.h"
#include "text.h"

using namespace kvnet::ipp;

namespace {

const std::string kDir = KVNET_IPP_TEST_DIR;

// A snapshot as the SNMP fill leaves it, for lines marked "[snmp]": status,
// one supply, one tray each way, a model (no serial number) and a life count.
void fillAsSnmp(kvnet::Snapshot* s) {
    s->profile.deviceStatus = {0x41, 0, 2};
    s->answer(kvbidi::kDeviceStatus);
    s->addSupplyStatus(8, 1, 5, 40);
    s->profile.toner.supplies.push_back({});
    s->answer(kvbidi::kTonerInfo);
    s->profile.inputStatus = {{3, 1, 2}};
    s->profile.inputBins = {{3, 500, 3, 2, "Tray 1", ""}};
    s->profile.outputStatus = {{1, 1, 0}};
    s->profile.outputBins = {{1, 1, 250, 0, 0, "Standard Bin"}};
    for (uint16_t code : {kvbidi::kInputStatus, kvbidi::kInputChars, kvbidi::kOutputStatus, kvbidi::kOutputChars})
        s->answer(code);
    s->profile.deviceChars.text1 = "SNMP MODEL";
    kvnet::copyField(s->profile.info.szModelName, sizeof s->profile.info.szModelName, "SNMP MODEL");
    s->answer(kvbidi::kDeviceChars);
    s->profile.pageCounts = {{1, 99}};
    s->answer(kvbidi::kPageCounts);
}

TEST(IppFill, PrinterAttributesGolden) {
    kvtest::expectGolden(kDir + "/fill.golden", [](const std::string& input) {
        kvnet::Snapshot snapshot;
        std::string line = input;
        if (line.rfind("[snmp] ", 0) == 0) {
            fillAsSnmp(&snapshot);
            line = line.substr(7);
        }
        fillPrinter(kvtest::parseAttributes(line), &snapshot);
        return kvtest::describeSnapshot(snapshot);
    });
}

TEST(IppFill, JobsGolden) {
    kvtest::expectGolden(kDir + "/jobs.golden", [](const std::string& input) {
        kvnet::Snapshot snapshot;
        JobNumbers numbers;
        fillJobs(kvtest::parseJobGroups(input), numbers, &snapshot);
        return kvtest::describeJobs(snapshot);
    });
}

// Every keyword of the table is in the golden file, with the records it
// gives (items unknown) and the alert the library makes of each.
TEST(IppFill, EveryStateReasonGivesTheIntendedAlert) {
    std::string golden = kvtest::readText(kDir + "/reasons.golden");
    for (const ReasonRow& row : reasonRows())
        EXPECT_NE(golden.find("\n" + std::string(row.keyword) + "-error => "), std::string::npos) << row.keyword;
    kvtest::expectGolden(kDir + "/reasons.golden", [](const std::string& keyword) {
        kvnet::Snapshot snapshot;
        fillPrinter(kvtest::parseAttributes("printer-state-reasons=" + keyword), &snapshot);
        std::string text = kvtest::describeSnapshot(snapshot);
        text = text.substr(0, text.find(" answered"));
        return text.rfind("answered", 0) == 0 ? "none" : text;
    });
}

TEST(IppFill, JobNumbersKeepSmallIdsAndAliasLargeOnesStably) {
    JobNumbers numbers;
    kvnet::Snapshot first, second;
    fillJobs(kvtest::parseJobGroups("job-id=70000 || job-id=5 || job-id=65535 || job-id=70001"), numbers, &first);
    EXPECT_EQ(kvtest::describeJobs(first).substr(0, 17), "jobs[65534 s=0 p=");
    EXPECT_EQ(numbers.jobIdOf(5), 5);
    EXPECT_EQ(numbers.jobIdOf(65535), 65535);
    EXPECT_EQ(numbers.jobIdOf(65534), 70000);
    EXPECT_EQ(numbers.jobIdOf(65533), 70001);
    // The next listing: gone jobs are forgotten, aliases stay, a small id an alias holds gets one too.
    fillJobs(kvtest::parseJobGroups("job-id=70001 || job-id=65534 || job-id=70000"), numbers, &second);
    EXPECT_EQ(numbers.jobIdOf(65533), 70001);
    EXPECT_EQ(numbers.jobIdOf(65534), 70000);
    EXPECT_EQ(numbers.jobIdOf(65532), 65534);
    EXPECT_EQ(numbers.jobIdOf(5), std::nullopt);
    EXPECT_EQ(numbers.jobIdOf(65535), std::nullopt);
}

// Names as long as info1 holds: the list stops where the encoded reply
// would pass the library's largest reply (64000 bytes).
TEST(IppFill, JobListFitsTheLibrarysLargestReply) {
    std::vector<Attributes> jobs;
    for (int id = 1; id <= 400; ++id)
        jobs.push_back(kvtest::parseAttributes("job-id=" + std::to_string(id) + " | job-name=" + std::string(300, 'n') +
                                               " | job-originating-user-name=" + std::string(100, 'u')));
    kvnet::Snapshot snapshot;
    JobNumbers numbers;
    fillJobs(jobs, numbers, &snapshot);
    const uint8_t allJobs[] = {0xFF, 0, 0, 0, 0x40};
    auto reply = kvsim::encodeRead(snapshot.profile, {kvbidi::kQueryJobs, allJobs, sizeof allJobs});
    ASSERT_TRUE(reply && reply->rc == 0);
    EXPECT_LE(reply->body.size() + 1, 64000u);
    EXPECT_GT(reply->body.size() + 1, 64000u - 300);
    EXPECT_EQ(snapshot.profile.jobs.front().info1.size(), 251u);
    ASSERT_EQ(snapshot.notes.size(), 1u);
    EXPECT_EQ(snapshot.notes[0], "job list cut at " + std::to_string(snapshot.profile.jobs.size()) +
                                     " jobs (the library's largest reply)");
}

}  // namespace

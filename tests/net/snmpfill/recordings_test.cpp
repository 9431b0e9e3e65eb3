// Each recording of tests/net/recordings filled into a snapshot, compared
// with its golden file: the requests answered, the notes and the profile as
// the simulator's writer keeps it (every field). One device per quirk family.
#include <gtest/gtest.h>

#include <cstdio>
#include <nlohmann/json.hpp>

#include "golden.h"
#include "profile_writer.h"
#include "snmp/fill.h"
#include "snmprec.h"

namespace {

struct Recording {
    const char* name;
    const char* address;   // as the client reached the printer; empty: not known
};
const Recording kRecordings[] = {
    {"healthy", "192.0.2.10"},    {"levels", "198.51.100.23"}, {"charsets", "192.0.2.41"},
    {"indexes", "203.0.113.7"},   {"missing", ""},             {"types", "192.0.2.70"},
    {"alerts", "192.0.2.90"},     {"v1only", "192.0.2.31"},
};

void PrintTo(const Recording& r, std::ostream* out) { *out << r.name; }

// `value` at `path` a line ("identity.model \"EX\"", "inputBins {...}" an entry), empty lists left out.
void flatten(const std::string& path, const nlohmann::ordered_json& value, std::string* text) {
    if (value.is_object())
        for (const auto& [key, member] : value.items()) flatten(path.empty() ? key : path + "." + key, member, text);
    else if (value.is_array() && !value.empty() && value.front().is_structured())
        for (const auto& entry : value) *text += path + " " + entry.dump() + "\n";
    else if (!value.is_array() || !value.empty())
        *text += path + " " + value.dump() + "\n";
}

class RecordingTest : public testing::TestWithParam<Recording> {};

TEST_P(RecordingTest, FillsAsTheGoldenFileSays) {
    const Recording& r = GetParam();
    kvnet::snmp::MibView view;
    std::string error;
    ASSERT_TRUE(snmpfilltest::loadSnmprec(std::string(KVNET_RECORDINGS) + "/" + r.name + ".snmprec", &view, &error))
        << error;
    kvnet::Snapshot snapshot;
    kvnet::snmp::fill(view, r.address, &snapshot);
    std::string text = "== answered\n";
    for (uint16_t code : snapshot.answered) {
        char hex[8];
        std::snprintf(hex, sizeof hex, "0x%02X ", code);
        text += hex;
    }
    text += "\n== notes\n";
    for (const std::string& note : snapshot.notes) text += note + "\n";
    text += "== profile\n";
    auto profile = nlohmann::ordered_json::parse(kvsim::profileToJson(snapshot.profile, r.name));
    profile.erase("_comment");
    flatten("", profile, &text);
    kvtest::expectGoldenFile(std::string(KVNET_SNMPFILL_DIR) + "/" + r.name + ".golden", text);
}

INSTANTIATE_TEST_SUITE_P(Recordings, RecordingTest, testing::ValuesIn(kRecordings),
                         [](const testing::TestParamInfo<Recording>& p) { return std::string(p.param.name); });

// The IPv6 address of the indexes device finds its interface in IP-MIB's new table.
TEST(RecordingTest, FindsTheAdapterOfAnIpv6Address) {
    kvnet::snmp::MibView view;
    std::string error;
    ASSERT_TRUE(snmpfilltest::loadSnmprec(std::string(KVNET_RECORDINGS) + "/indexes.snmprec", &view, &error)) << error;
    kvnet::Snapshot snapshot;
    kvnet::snmp::fill(view, "2001:db8::6600", &snapshot);
    EXPECT_STREQ(snapshot.profile.info.szPortName, "IP_2001:db8::6600");
    EXPECT_EQ(snapshot.profile.info.abAdapterAddress[5], 0xA7);
}

// A view that holds nothing answers nothing.
TEST(RecordingTest, AnEmptyViewAnswersNothing) {
    kvnet::snmp::MibView view;
    kvnet::Snapshot snapshot;
    kvnet::snmp::fill(view, "192.0.2.1", &snapshot);
    EXPECT_TRUE(snapshot.answered.empty());
    EXPECT_TRUE(snapshot.notes.empty());
}

}  // namespace

// The fill's pieces that a golden file shows poorly: which hrDevice row is
// the printer, which device state it reports, which alert rows it keeps,
// what a quiet poll asks and which walks its answer calls for, how texts in
// an undeclared character set are guessed, and that no value of the wrong
// type upsets it.
#include <gtest/gtest.h>

#include <algorithm>

#include "encoders.h"
#include "snmp/fill.h"
#include "snmp/fill_parts.h"
#include "snmprec.h"
#include "text.h"

namespace {

using kvnet::snmp::MibView;
using kvnet::snmp::Oid;
using kvnet::snmp::Value;
using kvnet::snmp::VarBind;
using kvnet::snmp::operator+;
namespace oid = kvnet::snmp::oid;

Value integer(int64_t n) { return {Value::Type::Integer, n, {}, {}}; }
Value objectId(const Oid& o) { return {Value::Type::ObjectId, 0, {}, o}; }

MibView recording(const char* name) {
    MibView view;
    std::string error;
    EXPECT_TRUE(snmpfilltest::loadSnmprec(std::string(KVNET_RECORDINGS) + "/" + name + ".snmprec", &view, &error))
        << error;
    return view;
}

TEST(PrinterDeviceTest, FindsThePrinterRow) {
    MibView none;
    EXPECT_EQ(kvnet::snmp::detail::printerDevice(none), 1u);

    MibView third;
    third.put(oid::cell(oid::hrDeviceEntry, oid::hrDeviceType, {1}), objectId(oid::hrStorageRam));
    third.put(oid::cell(oid::hrDeviceEntry, oid::hrDeviceType, {3}), objectId(oid::hrDevicePrinter));
    EXPECT_EQ(kvnet::snmp::detail::printerDevice(third), 3u);

    // Of two printer rows, the one the Printer MIB describes.
    MibView two;
    two.put(oid::cell(oid::hrDeviceEntry, oid::hrDeviceType, {2}), objectId(oid::hrDevicePrinter));
    two.put(oid::cell(oid::hrDeviceEntry, oid::hrDeviceType, {4}), objectId(oid::hrDevicePrinter));
    two.put(oid::cell(oid::prtGeneralEntry, oid::prtConsoleDisable, {4}), integer(3));
    EXPECT_EQ(kvnet::snmp::detail::printerDevice(two), 4u);

    // No Host Resources rows: the Printer MIB's row.
    MibView general;
    general.put(oid::cell(oid::prtGeneralEntry, oid::prtGeneralConfigChanges, {2}), integer(5));
    EXPECT_EQ(kvnet::snmp::detail::printerDevice(general), 2u);
}

// The device-status reply's state byte is hrDeviceStatus when the MIB
// defines the value (1-5), else 0; running and warning alone are ready.
TEST(DeviceStatusTest, StateByteIsAKnownHostResourcesStateOrZero) {
    const struct {
        int64_t hrDeviceStatus;
        uint8_t ready, state;
    } rows[] = {{0, 0, 0}, {oid::hrUnknown, 0, 1}, {oid::hrRunning, 1, 2}, {oid::hrWarning, 1, 3},
                {oid::hrTesting, 0, 4}, {oid::hrDown, 0, 5}, {6, 0, 0}, {-2, 0, 0}};
    for (const auto& row : rows) {
        MibView view = recording("healthy");
        view.put(oid::cell(oid::hrDeviceEntry, oid::hrDeviceStatus, {1}), integer(row.hrDeviceStatus));
        kvnet::Snapshot s;
        kvnet::snmp::fill(view, "192.0.2.1", &s);
        EXPECT_EQ(std::pair(s.profile.deviceStatus[0] & 1, +s.profile.deviceStatus[2]), std::pair(+row.ready, +row.state))
            << row.hrDeviceStatus;
    }
}

// Only an alert row that says nothing is left out: without its description,
// a row with a group and a code (a jam in tray 2) gives the same records.
TEST(AlertRowsTest, ARowWithAGroupAndACodeButNoDescriptionIsKept) {
    auto records = [](const MibView& view) {
        kvnet::Snapshot s;
        kvnet::snmp::fill(view, "192.0.2.1", &s);
        std::string text;
        for (const auto& [run, list] : s.profile.alertRuns)
            for (const kvsim::AlertRecord& r : list)
                text += std::to_string(run) + ":" + std::to_string(r.category) + "/" + std::to_string(r.instance) + "/" +
                        std::to_string(r.condition) + " ";
        return text;
    };
    MibView view = recording("alerts");
    const std::string described = records(view);
    view.put(oid::cell(oid::prtAlertEntry, oid::prtAlertDescription, {1, 1}), {Value::Type::OctetString, 0, "", {}});
    EXPECT_EQ(records(view), described);
}

// A finisher serves the output whose index is one more than a set bit of its
// map, bit 0 being the first byte's high bit; a map too short for an index
// serves it not. Bins 1 and 2 of the recording, 9 and 16 added.
TEST(FinishingTest, AFinisherServesTheBinsItsBitMapNames) {
    const struct {
        std::string map;
        std::vector<uint8_t> byte7;   // of the bins with index 1, 2, 9, 16
    } rows[] = {{"\x80", {1, 0, 0, 0}},     {"\x40", {0, 1, 0, 0}}, {std::string("\x00\x80", 2), {0, 0, 1, 0}},
                {std::string("\x00\x01", 2), {0, 0, 0, 1}}, {"\x7F", {0, 1, 0, 0}}, {"", {0, 0, 0, 0}}};
    for (const auto& row : rows) {
        MibView view = recording("healthy");
        for (uint32_t index : {9u, 16u}) view.put(oid::cell(oid::prtOutputEntry, oid::prtOutputType, {1, index}), integer(3));
        view.put(oid::cell(oid::finDeviceEntry, oid::finDeviceType, {1, 1}), integer(oid::stitcher));
        view.put(oid::cell(oid::finDeviceEntry, oid::finDeviceAssociatedOutputs, {1, 1}), {Value::Type::OctetString, 0, row.map, {}});
        kvnet::Snapshot s;
        kvnet::snmp::fill(view, "192.0.2.1", &s);
        std::vector<uint8_t> byte7;
        for (const kvsim::OutputBin& b : s.profile.outputBins) byte7.push_back(b.byte7);
        EXPECT_EQ(byte7, row.byte7) << "row " << &row - rows;
    }
}

std::vector<VarBind> answerOf(const MibView& view) {
    std::vector<VarBind> answer;
    for (const Oid& o : kvnet::snmp::quietPoll(view)) answer.push_back({o, *view.get(o)});
    return answer;
}

void setNumber(std::vector<VarBind>& answer, const Oid& o, int64_t n) {
    auto it = std::find_if(answer.begin(), answer.end(), [&](const VarBind& b) { return b.oid == o; });
    ASSERT_NE(it, answer.end()) << kvnet::snmp::oidText(o);
    it->value.number = n;
}

TEST(QuietPollTest, AsksTheCountersAndMovingValuesOfThePrintersRows) {
    MibView view = recording("indexes");   // the printer is hrDevice 3
    std::vector<Oid> asked = kvnet::snmp::quietPoll(view);
    auto has = [&](const Oid& o) { return std::find(asked.begin(), asked.end(), o) != asked.end(); };
    EXPECT_TRUE(has(oid::cell(oid::prtGeneralEntry, oid::prtAlertAllEvents, {3})));
    EXPECT_TRUE(has(oid::cell(oid::prtGeneralEntry, oid::prtGeneralConfigChanges, {3})));
    EXPECT_TRUE(has(oid::cell(oid::hrPrinterEntry, oid::hrPrinterDetectedErrorState, {3})));
    EXPECT_TRUE(has(oid::cell(oid::hrDeviceEntry, oid::hrDeviceStatus, {3})));
    EXPECT_TRUE(has(oid::cell(oid::prtMarkerEntry, oid::prtMarkerLifeCount, {3, 1})));
    for (uint32_t supply : {1, 2, 5, 6, 9})
        EXPECT_TRUE(has(oid::cell(oid::prtMarkerSuppliesEntry, oid::prtMarkerSuppliesLevel, {3, supply}))) << supply;
    for (uint32_t line : {1, 3})
        EXPECT_TRUE(has(oid::cell(oid::prtConsoleDisplayBufferEntry, oid::prtConsoleDisplayBufferText, {3, line})));
    EXPECT_FALSE(has(oid::cell(oid::hrDeviceEntry, oid::hrDeviceStatus, {1})));
    EXPECT_LE(asked.size(), kvnet::snmp::kMaxQuietPoll);

    // Supplies above 255 are not asked; objects the device lacks are not asked.
    MibView levels = recording("levels");
    asked = kvnet::snmp::quietPoll(levels);
    EXPECT_FALSE(has(oid::cell(oid::prtMarkerSuppliesEntry, oid::prtMarkerSuppliesLevel, {1, 300})));
    EXPECT_FALSE(has(oid::cell(oid::prtGeneralEntry, oid::prtAlertAllEvents, {1})));
    EXPECT_TRUE(has(oid::cell(oid::prtMarkerSuppliesEntry, oid::prtMarkerSuppliesLevel, {1, 11})));
}

TEST(StaleRootsTest, WalksAgainWhatACounterSaysChanged) {
    MibView view = recording("indexes");
    const Oid alerts = oid::prtAlertEntry, supplies = oid::prtMarkerSuppliesEntry;

    std::vector<VarBind> same = answerOf(view);
    EXPECT_TRUE(kvnet::snmp::staleRoots(view, same).empty());

    // A level that moved is merged by the caller: nothing to walk.
    std::vector<VarBind> level = same;
    setNumber(level, oid::cell(oid::prtMarkerSuppliesEntry, oid::prtMarkerSuppliesLevel, {3, 1}), 10900);
    EXPECT_TRUE(kvnet::snmp::staleRoots(view, level).empty());

    std::vector<VarBind> events = same;
    setNumber(events, oid::cell(oid::prtGeneralEntry, oid::prtAlertAllEvents, {3}), 97);
    EXPECT_EQ(kvnet::snmp::staleRoots(view, events), std::vector<Oid>{alerts});

    std::vector<VarBind> config = same;
    setNumber(config, oid::cell(oid::prtGeneralEntry, oid::prtGeneralConfigChanges, {3}), 41);
    std::vector<Oid> roots = kvnet::snmp::staleRoots(view, config);
    for (const Oid& o : {oid::hrStorageEntry, oid::prtInputEntry, oid::prtOutputEntry, supplies, oid::prtMediaPathEntry,
                         oid::prtChannelEntry, oid::prtInterpreterEntry})
        EXPECT_NE(std::find(roots.begin(), roots.end(), o), roots.end()) << kvnet::snmp::oidText(o);
    EXPECT_EQ(std::find(roots.begin(), roots.end(), alerts), roots.end());

    // A supply that no longer answers: its table is walked again.
    std::vector<VarBind> gone = same;
    const Oid drum = oid::cell(oid::prtMarkerSuppliesEntry, oid::prtMarkerSuppliesLevel, {3, 5});
    gone.erase(std::remove_if(gone.begin(), gone.end(), [&](const VarBind& b) { return b.oid == drum; }), gone.end());
    EXPECT_EQ(kvnet::snmp::staleRoots(view, gone), std::vector<Oid>{supplies});
}

TEST(StaleRootsTest, WithoutAlertCountersAStatusChangeWalksTheAlertTable) {
    MibView view = recording("missing");
    std::vector<VarBind> answer = answerOf(view);
    setNumber(answer, oid::cell(oid::hrDeviceEntry, oid::hrDeviceStatus, {1}), oid::hrWarning);
    EXPECT_EQ(kvnet::snmp::staleRoots(view, answer), std::vector<Oid>{oid::prtAlertEntry});
}

TEST(TextTest, GuessesTheCharacterSetOfUndeclaredTexts) {
    using namespace std::string_literals;
    const std::tuple<std::string, unsigned, std::string> cases[] = {
        {"\0B\0a\0c\0 \0\xE9"s, kvnet::kCharsetUnknown, "Bac \xC3\xA9"},   // UTF-16BE by its zero bytes
        {"B\0a\0c\0"s, kvnet::kCharsetUnknown, "Bac"},                      // UTF-16LE
        {"\xFE\xFF\0A\0B"s, kvnet::kCharsetUnknown, "AB"},                  // byte-order mark
        {"AB\0\0"s, kvnet::kCharsetUnknown, "AB\0\0"s},                     // padded ASCII stays ASCII
        {"\x82", kvnet::kCharsetCp850, "\xC3\xA9"},
    };
    for (const auto& [bytes, set, utf8] : cases) EXPECT_EQ(kvnet::toUtf8(bytes, set), utf8) << set;
    // A character the target lacks is one '?', a broken sequence too.
    EXPECT_EQ(kvnet::toLatin1("a\xC3" "b \xF0\x9F\x96\xA8"), "a?b ?");
    // A text longer than a fixed field of the printer information keeps all but its terminator's byte.
    char field[8];
    kvnet::copyField(field, sizeof field, "ABCDEFGHIJ");
    EXPECT_EQ(std::string(field, sizeof field), "ABCDEFG"s + '\0');
}

// Every value of every recording in turn of each other type: the fill must
// not fail, and what it answers must encode within the replies' bounds.
TEST(RobustnessTest, RecordingsWithValuesOfTheWrongType) {
    const Value kOthers[] = {
        integer(-5), integer(1) , {Value::Type::Counter32, 4294967295, {}, {}}, {Value::Type::OctetString, 0, "", {}},
        {Value::Type::OctetString, 0, std::string(300, '\xFF'), {}}, {Value::Type::Null, 0, {}, {}},
        objectId(oid::hrDevicePrinter), {Value::Type::Counter64, INT64_MAX, {}, {}},
    };
    for (const char* name : {"healthy", "levels", "charsets", "indexes", "missing", "types", "alerts", "v1only"}) {
        MibView original = recording(name);
        std::vector<Oid> oids;
        for (const Oid& suffix : original.indexes({1})) oids.push_back(Oid{1} + suffix);
        size_t n = 0;
        for (const Oid& o : oids) {
            MibView view = original;
            view.put(o, kOthers[n++ % std::size(kOthers)]);
            kvnet::Snapshot s;
            kvnet::snmp::fill(view, "192.0.2.1", &s);
            const kvsim::Profile& p = s.profile;
            for (uint16_t code : s.answered) {
                const uint16_t variable = code != kvbidi::kReadOMVar ? 0x004D   // 0x4E: one the printer has
                                          : p.variables.empty()     ? 0
                                                                    : p.variables.front().id;
                const uint8_t data[] = {static_cast<uint8_t>(code == kvbidi::kInterpreters ? 0xFF : variable >> 8),
                                        static_cast<uint8_t>(variable)};
                size_t length = code == kvbidi::kReadOMVar ? 2 : code == kvbidi::kInputStatus ||
                                code == kvbidi::kOutputStatus || code == kvbidi::kSuppliesStatus ||
                                code == kvbidi::kTonerInfo || code == kvbidi::kInterpreters ? 1 : 0;
                if (code == kvbidi::kReadMultiOMVars) continue;
                auto reply = kvsim::encodeRead(p, {code, data, length});
                ASSERT_TRUE(reply && reply->rc == 0) << name << " " << kvnet::snmp::oidText(o) << " code " << code;
            }
            for (size_t count : {p.inputStatus.size(), p.outputStatus.size(), p.suppliesStatus.size(),
                                 p.inputBins.size(), p.outputBins.size(), p.storage.size(), p.interpreters.size(),
                                 p.ports.size(), p.toner.supplies.size(), p.pageCounts.size()})
                ASSERT_LE(count, 255u) << name << " " << kvnet::snmp::oidText(o);
            for (const auto& b : p.inputBins) ASSERT_TRUE(b.name.size() <= 255 && b.text2.size() <= 255);
            for (const auto& b : p.outputBins) ASSERT_LE(b.name.size(), 255u);
            ASSERT_TRUE(p.deviceChars.text1.size() <= 255 && p.deviceChars.codeLevel.size() <= 255);
            ASSERT_LE(p.panel.text.size(), static_cast<size_t>(p.panel.height));
        }
    }
}

}  // namespace

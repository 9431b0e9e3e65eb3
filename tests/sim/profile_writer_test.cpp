// Profiles written back (profile_writer.h): a profile the loader accepts,
// written and loaded again, is the same printer: every read answers the same
// bytes, and what no read shows (identity, alerts, buttons, files, read-only
// flags) is the same too. A printer's state after writes is served again.
#include <gtest/gtest.h>

#include <filesystem>
#include <fstream>
#include <set>

#include <nlohmann/json.hpp>

#include "bytes.h"
#include "golden.h"
#include "kvprtobj/bidicodes.h"
#include "kvprtobj/kvprtsim.h"
#include "sim/alert_data.h"
#include "sim/encoders.h"
#include "sim/pjl_variables.h"
#include "sim/records.h"
#include "sim/profile_writer.h"

namespace {

using kvsim::Bytes;
using kvsim::Profile;
using kvtest::toHex;

Profile load(const std::string& json) {
    Profile p;
    std::string error;
    EXPECT_TRUE(kvsim::loadProfile(json, &p, &error)) << error;
    return p;
}

std::string hexOf(const std::string& text) { return toHex(text.data(), text.size()); }

// The data of the requests sent for read `code`: one per variable, job and
// font selector pair of `p`, else the one request the read takes.
std::vector<Bytes> requestsFor(uint16_t code, const Profile& p) {
    auto byId = [](const std::vector<kvsim::Variable>& vars) {
        std::vector<Bytes> out;
        for (const auto& v : vars) out.push_back({static_cast<uint8_t>(v.id >> 8), static_cast<uint8_t>(v.id)});
        return out;
    };
    switch (code) {
    case kvbidi::kInputStatus: case kvbidi::kOutputStatus: case kvbidi::kSuppliesStatus: case kvbidi::kTonerInfo:
        return {{0x00}};
    case kvbidi::kInterpreters: return {{0xFF}};
    case kvbidi::kReadOMVar: return byId(p.variables);
    case kvbidi::kReadMiscVar: return byId(p.miscVariables);
    case kvbidi::kReadMultiOMVars: {
        Bytes all{0};
        for (const Bytes& id : byId(p.variables))
            if (all[0] < 255) all.insert(all.end(), id.begin(), id.end()), ++all[0];
        return {all};
    }
    case kvbidi::kQueryJobs: {
        std::vector<Bytes> out{{0xFF, 0, 0, 0, 0x40}};
        for (const auto& j : p.jobs) out.push_back({0xFF, static_cast<uint8_t>(j.number >> 8), static_cast<uint8_t>(j.number), 0, 0x40});
        return out;
    }
    case kvbidi::kFontDetails: {
        std::set<uint8_t> first{0}, second{0};
        for (const auto& f : p.fonts) first.insert(f.selector1.value_or(0)), second.insert(f.selector2.value_or(0));
        std::vector<Bytes> out;
        for (uint8_t a : first)
            for (uint8_t b : second) out.push_back({a, b, 0});
        return out;
    }
    default: return {{}};
    }
}

// What the library can learn of `state`, asked the requests that `asked` calls for, one line each.
std::string seen(const Profile& state, const Profile& asked) {
    std::ostringstream out;
    for (uint32_t code = 0; code <= 0xFFFF; ++code) {
        if (!kvsim::isRead(static_cast<uint16_t>(code))) continue;
        for (const Bytes& data : requestsFor(static_cast<uint16_t>(code), asked)) {
            auto reply = kvsim::encodeRead(state, {static_cast<uint16_t>(code), data.data(), data.size()});
            out << "read " << code << " " << toHex(data) << " => " << reply->rc << " " << toHex(reply->body) << "\n";
        }
    }
    out << "name " << hexOf(state.name) << "\ninfo " << toHex(&state.info, sizeof state.info) << "\naddress "
        << toHex(&state.netAddress, sizeof state.netAddress) << "\nhost page count " << int(state.hostPageCountType)
        << "\nset font status " << int(state.setFontStatus) << "\n";
    for (const auto& n : state.names) out << "name of " << n.netType << " " << hexOf(n.name) << " " << hexOf(n.address) << "\n";
    for (const auto& a : state.alerts) out << "alert " << hexOf(a.name) << " " << a.family << " " << toHex(a.data) << "\n";
    const kvsim::Panel& panel = state.panel;
    out << "panel " << panel.width << "x" << panel.height << "\n";
    for (const auto& l : panel.text) out << "  text " << hexOf(l) << "\n";
    for (const auto& l : panel.lockedText) out << "  locked " << hexOf(l) << "\n";
    for (const auto& b : panel.buttons) {
        out << "  button " << int(b.code) << " " << hexOf(b.name) << " lock " << (b.lock ? int(*b.lock) : -1) << "\n";
        for (const auto& l : b.text.value_or(std::vector<std::string>{"(none)"})) out << "    " << hexOf(l) << "\n";
    }
    for (const auto& d : state.storageDevices) {
        out << "device " << int(d.id) << " " << d.capacity << "\n";
        for (const auto& f : d.files) out << "  file " << hexOf(f.name) << " " << f.size << "\n";
    }
    for (const auto& v : state.variables) out << "variable " << v.id << (v.readOnly ? " read-only\n" : "\n");
    for (const auto& v : state.miscVariables) out << "misc " << v.id << (v.readOnly ? " read-only\n" : "\n");
    for (uint8_t format : {1, 2}) {   // each format sends only some fields of a supply
        kvsim::Toner toner = state.toner;
        toner.format = format;
        out << "toner as format " << int(format) << " " << toHex(kvsim::tonerData(toner)) << "\n";
    }
    return out.str();
}

// Profiles at the edges of what the loader takes: every attachment bit,
// every byte in texts and panel lines, fonts of both forms, alerts whose
// data no structured form builds, variables of every size.
constexpr const char* kEdges = R"({
  "name": "edges",
  "identity": {"bidiCapable": false, "infoFlag15": true, "netTypes": [1, 2, 4, 8, 16, 32, 64, 128], "localPort": true,
               "capturedLpt": [1, 5, 9], "addresses": ["ip", "ipx", "dlc"], "netTypeCode": 65535},
  "panel": {"width": 64, "height": 4, "buttons": [{"code": 7, "lock": 0}, {"code": 8, "text": []}]},
  "fonts": {"list": [{"tag": 3, "selector1": 2, "pitch": 0.1, "height": 9999.75, "symbolSet": 32},
                     {"tag": 3, "selector1": 2, "selector2": 7, "description": "name: a; b; pitch: 10.0; "},
                     {"tag": 4, "description": ""}, {"tag": 5, "height": -0.0, "symbolSet": 0}]},
  "toner": {"format": 2, "supplies": [{"id": 1, "attribute": 3, "valueA": 7, "counted": "01 02", "step": 9}]},
  "alertRecords": {"operatorIntervention": []},
  "variables": [{"id": 1, "value": ""}, {"id": 2, "value": {"hex": "41 42 43"}}, {"id": 3, "value": {"hex": "00 01 02"}},
                {"id": 4, "value": "AUTO"}, {"id": 5, "value": {"hex": "00 00 01 00"}}, {"id": 6, "readOnly": true}],
  "alerts": [{"family": "jobTransition", "job": {"number": 1, "long21": 9}},
             {"family": "raw", "code": 1533, "data": "03 20 00 00 00"},
             {"family": "raw", "code": 1534, "data": "03 40 09 00"},
             {"family": "raw", "code": 0, "data": ""}]
})";

Profile edgeProfile() {
    Profile p = load(kEdges);
    std::string all(256, '\0');
    for (size_t i = 0; i < all.size(); ++i) all[i] = static_cast<char>(i);
    p.deviceChars.text1 = all.substr(0, 255);
    p.deviceChars.text3 = all.substr(255);
    p.formNames.push_back({1, all.substr(1, 254)});
    for (size_t line = 0; line < 4; ++line) p.panel.text.push_back(all.substr(64 * line, 64));
    p.panel.lockedText = {"trailing   ", "", "   "};
    using namespace kvsim;
    p.alerts.push_back({"panel", kFamilyOperatorPanel, operatorPanelAlert(panelDisplay(p.panel.lockedText, 64, 4))});
    p.alerts.push_back({"panel of another size", kFamilyOperatorPanel, operatorPanelAlert("x")});
    p.alerts.push_back({"long event", kFamilyVariableEvent, variableEventAlert(0x0754, Bytes(kMaxEventValue + 1, 'x'))});
    Toner large;
    large.supplies.assign(40, TonerSupply{.id = 1, .counted = Bytes(200, 0xEE)});
    p.alerts.push_back({"another toner", kFamilyToner, tonerAlert(large)});
    p.variables.push_back({0x0007, Bytes(255, 0x80), false});
    return p;
}

TEST(ProfileWriter, EveryProfileOfTheTestsAndDocsLoadsBackToTheSamePrinter) {
    std::vector<std::pair<std::string, Profile>> profiles = {
        {"default.json", load(kvtest::readText(KVPRTSIM_DEFAULT_PROFILE))}, {"edges", edgeProfile()}};
    // The profiles the documents and transcripts give as "# NAME.json" blocks.
    for (const char* folder : {"docs", "tests/tools"})
        for (const auto& entry : std::filesystem::directory_iterator(std::string(KVPO_SOURCE_DIR) + "/" + folder)) {
            std::ifstream in(entry.path());
            std::string name, text;
            for (std::string line; std::getline(in, line);) {
                if (line.starts_with("# ") && line.ends_with(".json") && text.empty()) name = line.substr(2);
                else if (line == "```" && !name.empty()) profiles.emplace_back(name, load(text)), name.clear(), text.clear();
                else if (!name.empty()) text += line + "\n";
            }
        }
    ASSERT_GE(profiles.size(), 4u);
    for (const auto& [name, p] : profiles) {
        SCOPED_TRACE(name);
        const std::string written = kvsim::profileToJson(p, "test");
        const Profile reloaded = load(written);
        EXPECT_EQ(seen(reloaded, p), seen(p, p));
        EXPECT_TRUE(kvsim::profileToJson(reloaded, "test") == written) << "written again, the file differs";
    }
}

// The variable map the simulator and the net:// backend share fits the
// built-in printer: each mapped value has the map's width and read-only
// flag, and shows as PJL text.
TEST(PjlVariableMap, FitsTheBuiltInPrintersVariables) {
    for (const kvsim::Variable& v : load(kvtest::readText(KVPRTSIM_DEFAULT_PROFILE)).variables) {
        const kvsim::PjlVariable* p = kvsim::pjlVariable(v.id);
        if (p == nullptr) continue;
        const size_t width = p->width ? p->width : v.value.size();
        EXPECT_EQ(std::tuple(width, p->readOnly, kvsim::pjlText(*p, v.value).has_value()),
                  std::tuple(v.value.size(), v.readOnly, true))
            << p->name;
    }
}

// The compiled-in map parses; a map that does not is refused with the line
// and the reason.
TEST(PjlVariableMap, IsReadWholeOrRefusedWithLineAndReason) {
    std::string error;
    ASSERT_TRUE(kvsim::parsePjlVariableMap(kvsim::pjlVariableMapText(), &error)) << error;
    const std::string good = "# comment\n01 01\tCOPIES\tnumber\t2\trw\t-\t-\n";
    for (auto [line, reason] : {
             std::pair{"01 02\tPAPER\tfloat\t1\trw\t-\t-", "line 3: unknown codec \"float\""},
             std::pair{"01 01\tPAPER\tword\t-\trw\t-\t-", "line 3: id 01 01 listed twice"},
             std::pair{"01 02\tCOPIES\tword\t-\trw\t-\t-", "line 3: PJL name COPIES listed twice"},
             std::pair{"01 02\tPAPER\tnumber\t3\trw\t-\t-", "line 3: bad width \"3\""},
             std::pair{"01 02\tPAPER\ttext\t2\trw\t-\t-", "line 3: bad width \"2\""},
             std::pair{"01 02\tPAPER\tchoice\t1\trw\t0=A 256=B\t-", "line 3: bad choice \"256=B\""},
             std::pair{"01 02\tPAPER\tchoice\t1\trw\t0=A 0=B\t-", "line 3: choice \"0=B\" repeats"},
             std::pair{"01 02\tpaper\tword\t-\trw\t-\t-", "line 3: bad PJL name"},
             std::pair{"01 02 PAPER word - rw -", "line 3: expected 7 fields"},
             std::pair{"01 02\tPAPER\tword\t-\trw\t-\tsysUpTime", "line 3: unknown SNMP object"},
             std::pair{"01 02\tPAPER\tword\t-\trw\t-\tprtGeneralSerialNumber", "line 3: SNMP object"},
         }) {
        EXPECT_FALSE(kvsim::parsePjlVariableMap(good + line + "\n", &error)) << line;
        EXPECT_TRUE(error.starts_with(reason)) << error;
    }
}

// Each line of font_descriptions.golden: a description a printer sends, "=>",
// and the font entry written for it (tags left out).
TEST(ProfileWriter, FontDescriptionsAreWrittenAsFieldsWhereTheFieldsBuildThemAgain) {
    kvtest::expectGolden(KVPO_FONT_DESCRIPTIONS_GOLDEN, [](const std::string& description) {
        Profile p;
        p.fonts.push_back({.description = description});
        nlohmann::ordered_json font = nlohmann::ordered_json::parse(kvsim::profileToJson(p, "test"))["fonts"]["list"][0];
        font.erase("tag");
        font.erase("tag2");
        EXPECT_EQ(load(kvsim::profileToJson(p, "test")).fonts[0].description, description);
        return font.dump();
    });
}

// The reply of `printer` to one request, as text.
std::string reply(kvsim::SimPrinter& printer, uint16_t code, const Bytes& data) {
    Bytes buffer(1 << 18);
    unsigned long length = buffer.size();
    long rc = printer.sendBidi(0, 0, code, buffer.data(), &length, data.data(), data.size());
    return std::to_string(rc) + " " + toHex(buffer.data(), rc == 0 ? length : 0);
}

TEST(SimSnapshot, AStateAfterWritesIsServedAgainAsItWasLeft) {
    auto before = kvsim::SimPrinter::fromDefault();
    const std::pair<uint16_t, Bytes> writes[] = {
        {kvbidi::kSetOMVar, {0x01, 0x06, 0x0C}},                            // print darkness 12
        {kvbidi::kSetOMVar, {0x00, 0x4D, 0x01}},                            // the panel locked
        {kvbidi::kDeleteJob, {0x00, 0x0D}},                                 // job 13
        {kvbidi::kPushButton, {0x00, 0x00, 0x01}},                          // Menu
        {kvbidi::kResetContinue, {0x00, 0xB0}},                             // the interventions cleared
        {kvbidi::kSetFormName, {0x01, 0x07, 0x03, 'A', '4', 0x00}},         // a new form name
        {kvbidi::kSetCurrentFont, {2, 0, 3, 0, 14, 0, 0, 0, 12}},
        {kvbidi::kStorageDeleteFile, kvtest::hex("02 11 6C 6F 67 6F 73 2F 63 6F 6D 70 61 6E 79 2E 70 63 6C")},
        {kvbidi::kResetHostPageCount, {}},
    };
    for (const auto& [code, data] : writes) ASSERT_EQ(reply(*before, code, data).substr(0, 2), "0 ") << code;

    std::string json, error;
    ASSERT_EQ(before->snapshotProfile(&json), 0);
    auto after = kvsim::SimPrinter::fromJson(json, &error);
    ASSERT_TRUE(after) << error;
    const Profile state = load(json);
    for (uint32_t code = 0; code <= 0xFFFF; ++code) {
        if (!kvsim::isRead(static_cast<uint16_t>(code))) continue;
        for (const Bytes& data : requestsFor(static_cast<uint16_t>(code), state))
            EXPECT_EQ(reply(*after, static_cast<uint16_t>(code), data), reply(*before, static_cast<uint16_t>(code), data))
                << code << " " << toHex(data);
    }
    for (uint8_t device : {kvsim::kDeviceFlash, kvsim::kDeviceDisk})
        EXPECT_EQ(reply(*after, kvbidi::kStorageReadDirectory, {device}), reply(*before, kvbidi::kStorageReadDirectory, {device}));
    std::string again;
    ASSERT_EQ(after->snapshotProfile(&again), 0);
    EXPECT_EQ(again, json);
}

}  // namespace

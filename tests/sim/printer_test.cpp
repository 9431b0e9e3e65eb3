// The simulated printer in process: the byte layout of every reply and alert,
// the buffer rules, and the state its requests change.
#include <gtest/gtest.h>

#include <memory>
#include <tuple>

#include "kvprtobj/kvprtsim.h"
#include "scripted_printer.h"

using kvsim::SimPrinter;
using kvtest::Bytes;
using kvtest::ByteVec;
using kvtest::hex;
using kvtest::toHex;

namespace {

// A small profile for exact layouts.
constexpr const char* kLayoutProfile = R"({
  "alertRecords": {"paperJams": [{"category": 1, "instance": 255, "condition": 1, "extra": "AA BB"}]},
  "inputBins": [{"number": 4, "capacity": 500, "byte8": 8, "sizeCode": 81, "name": "Tray 2", "text2": "A4"}],
  "fonts": {"header": "01", "list": [{"tag": 1, "name": "X", "symbolSet": 341, "height": 12.5},
                                     {"tag": 2, "selector1": 9, "name": "Y", "symbolSet": 64}]},
  "jobs": [{"number": 7, "byte0": 1, "byte3": 2, "priority": 5, "word5": 3, "word7": 4, "bytes9": "09 0A 0B 0C",
            "byte13": 13, "long17": 17, "long21": 21, "long25": 25, "long29": 29, "long33": 33, "long37": 37,
            "info1": "JN=a", "info2": "UR=b"}],
  "formNames": [{"number": 3, "name": "Tray"}],
  "toner": {"leading": "AA", "common": 1, "format": 1, "supplies": [
     {"id": 1, "valueA": 1, "pageCount": 1200, "basePageCount": 1000, "valueB": 2, "levelCount": 6, "level": 3,
      "valueC": 4, "counted": "EE", "valueD": 5, "adjustHigh": 1000, "adjustLow": 500, "stepHigh": 60,
      "stepLow": 40, "step": 50}]},
  "panel": {"width": 4, "height": 2, "text": ["\u00c4", "ok"]},
  "variables": [{"id": "00 4D", "value": {"u8": 0}}, {"id": "07 77", "value": {"be32": 1000}}],
  "miscVariables": [{"id": "00 A7", "value": {"u8": 6}}],
  "alerts": [
    {"family": "deviceStatus", "status": [193, 15, 3]},
    {"family": "jobStatus", "headerA": 1, "headerB": 515, "headerC": 1029,
     "inputs": [{"counter1": 1, "counter2": 2, "counter3": 3, "counter4": 4, "counter5": 5}],
     "statusByte": 6, "info": "JN=a", "text": "T", "valueTag": 9, "values": [{"id": 1, "value": "0x0A0B0C0D"}]},
    {"family": "operatorPanel", "text": ["ab"]},
    {"family": "jobTransition", "job": {"number": 7, "byte0": 1, "long17": 17}},
    {"family": "variableEvent", "id": "07 54", "value": "X"},
    {"family": "variableEvent", "byte": 5},
    {"family": "toner"},
    {"name": "odd", "family": "raw", "code": "0x5F4", "data": "01"}
  ]
})";

std::shared_ptr<SimPrinter> load(const char* json) {
    std::string error;
    auto printer = SimPrinter::fromJson(json, &error);
    if (!printer) ADD_FAILURE() << error;
    return printer;
}

// One request; the whole reply (leading byte included) as hex, or the result code.
std::string ask(SimPrinter& p, unsigned short code, const ByteVec& data = {}) {
    uint8_t reply[4096];
    unsigned long length = sizeof reply;
    long rc = p.sendBidi(0, 0, code, reply, &length, data.data(), data.size());
    return rc ? "rc " + std::to_string(rc) : toHex(reply, length);
}

std::string alertData(SimPrinter& p, unsigned short id) {
    uint8_t data[2048];
    unsigned long length = sizeof data;
    long rc = p.queryAlerts(0, id, 2, data, &length);
    return rc ? "rc " + std::to_string(rc) : toHex(data, length);
}

}  // namespace

// Layouts the round trip through the library does not pin down: extra bytes,
// encodings, terminators, records the library reads only in part.
TEST(SimReplies, LayoutsOfRequests) {
    auto p = load(kLayoutProfile);
    ASSERT_TRUE(p);
    ByteVec jobRecord = Bytes{0x01, 0x00, 0x07, 0x02, 0x05, 0x00, 0x03, 0x00, 0x04, 0x09, 0x0A, 0x0B, 0x0C, 0x0D}
                            .zeros(3).be32(17).be32(21).be32(25).be32(29).be32(33).be32(37)
                            .counted("JN=a").counted("UR=b");
    // Font descriptions: the symbol set as number and letter (341 is 10U), or
    // in decimal when its remainder is no letter.
    ByteVec fontX = Bytes{0x01, 0x00}.be16(34).text("name: X; ssid: 10U; height: 12.5; ");
    ByteVec fontY = Bytes{0x02, 0x00}.be16(19).text("name: Y; ssid: 64; ");
    struct Case {
        unsigned short code;
        ByteVec request;
        ByteVec reply;
    } cases[] = {
        {0x06, {}, hex("06 01 01 FF 01 02 AA BB")},
        {0x12, {}, Bytes{0x12, 0x01, 0x04}.be32(500).zeros(3).u8(8).u8(81).zeros(20).counted("Tray 2").counted("A4")},
        {0x21, {0, 0, 0}, Bytes{0x21, 0x00}.be16(1).u8(1).u8(1).raw(fontX).raw({0xFE, 0xFF, 0, 0})},
        {0x21, {9, 0, 0}, Bytes{0x21, 0x00}.be16(2).u8(1).u8(1).raw(fontX).raw(fontY).raw({0xFE, 0xFF, 0, 0})},
        {0x34, {1, 2}, hex("34 01 02")},
        {0x43, {}, hex("43 8E 20 20 20 6F 6B 20 20")},   // code page 850: \u00c4 is 8E
        {0x75, hex("FF 00 00 00 40"), Bytes{0x75, 0x02, 0x00, 0x01}.be16(1).be16(0).be16(51).raw(jobRecord)},
        {0x94, hex("02 00 4D 07 77"), hex("94 00 00 4D 01 00 07 77 04 00 00 03 E8")},
        {0x94, hex("01 12 34"), hex("94 00")},   // unknown ids are left out
        {0x98, hex("09 00 08"), hex("98 01")},   // no such job
    };
    for (const Case& c : cases)
        EXPECT_EQ(ask(*p, c.code, c.request), toHex(c.reply)) << "request " << std::hex << c.code;
}

// The round trip decodes the alerts of every family; what it cannot see: an
// alert of no family, an id without alert, the toner alert's copy of 9A.
TEST(SimReplies, HeldAlertsHaveTheLayoutOfTheirFamily) {
    auto p = load(kLayoutProfile);
    ASSERT_TRUE(p);
    EXPECT_EQ(alertData(*p, 3), "E1 61 62 20 20 20 20 20 20");
    std::string tonerReply = ask(*p, 0x9A, {0});
    EXPECT_EQ(alertData(*p, 7), "03 80 01" + tonerReply.substr(5));   // the toner data after 9A 02
    EXPECT_EQ(alertData(*p, 8), "01");
    EXPECT_EQ(alertData(*p, 9), "rc -3");
}

TEST(SimReplies, BufferRulesOfTheEngine) {
    auto p = SimPrinter::fromDefault();
    uint8_t reply[8];
    unsigned long length = 5;
    EXPECT_EQ(p->sendBidi(0, 0, 0x10, reply, &length, nullptr, 0), BCE_E_NO_MEMORY);
    EXPECT_GT(length, 33u);   // what the reply needs
    length = 0;               // no reply wanted: carried out all the same
    EXPECT_EQ(p->sendBidi(0, 0, 0x36, reply, &length, nullptr, 0), 0);
    EXPECT_EQ(length, 0u);
    EXPECT_NE(ask(*p, 0x0C).find("02 00 00 00 00"), std::string::npos);   // the host page count (type 2) is 0

    // An alert longer than the buffer: its length with result 0.
    unsigned short id = p->raiseAlert(0x5F6, ByteVec(3000, 0x11));
    uint8_t data[2048];
    unsigned long size = sizeof data;
    EXPECT_EQ(p->queryAlerts(0, id, 2, data, &size), 0);
    EXPECT_EQ(size, 3000u);
}

TEST(SimReplies, UnknownRequestsAndMalformedDataAreInvalid) {
    auto p = SimPrinter::fromDefault();
    struct Case {
        unsigned short code;
        ByteVec request;
    } cases[] = {
        {0x99, {}},                            // no such request
        {0x01, {0}},                           // no data expected
        {0x02, {}},                            // one byte 00 expected
        {0x4E, {0x00}},                        // short id
        {0x4E, {0x12, 0x34}},                  // no such variable
        {0x4F, hex("0F 01 41")},               // read-only variable
        {0x4F, hex("12 34 41")},               // no such variable
        {0x56, {0x00, 0x4D}},                  // not a miscellaneous variable
        {0x40, {0x00, 0x01, 0x40}},            // button request starts 00 00
        {0x57, {0x00, 0xB2}},                  // neither reset nor continue
        {0x76, {0x00, 0x63}},                  // no such job
        {0x75, hex("FF 00 00 00")},            // short job query
        {0x91, hex("01 02 05 54 72 61 79")},   // name without its terminating zero
        {0x94, hex("02 00 4D")},               // fewer ids than counted
    };
    for (const Case& c : cases) EXPECT_EQ(ask(*p, c.code, c.request), "rc -3") << std::hex << c.code;
}

TEST(SimState, PanelFollowsItsLockAndButtonsAndAnnouncesEveryPress) {
    auto p = SimPrinter::fromDefault();
    std::vector<std::pair<unsigned short, unsigned long>> heard;
    p->addAlertListener([&](unsigned short id, unsigned long family) { heard.emplace_back(id, family); });
    auto panel = [&] { return ask(*p, 0x43); };
    auto line = [](const std::string& text) {
        std::string l = text;
        l.resize(20, ' ');
        return toHex(Bytes().text(l).vec());
    };
    EXPECT_EQ(panel().substr(3, 59), line("READY"));

    ASSERT_EQ(ask(*p, 0x4F, hex("00 4D 01")), "4F 00 00 4D");   // lock, then the library's press of 40
    ASSERT_EQ(ask(*p, 0x40, hex("00 00 40")), "40");
    EXPECT_EQ(panel().substr(63, 59), line("Panel locked"));
    ASSERT_EQ(ask(*p, 0x40, hex("00 00 01")), "40");            // the menu shows only once unlocked
    EXPECT_EQ(panel().substr(63, 59), line("Panel locked"));
    ASSERT_EQ(ask(*p, 0x4F, hex("00 4D 00")), "4F 00 00 4D");
    EXPECT_EQ(panel().substr(3, 59), line("MENU"));

    ASSERT_EQ(heard.size(), 4u);   // lock event, two presses, unlock event
    EXPECT_EQ(std::tuple(heard[0].second, heard[1].second), std::tuple(0x5FEul, 0x5F7ul));
    EXPECT_EQ(alertData(*p, heard[2].first).substr(0, 2), "E1");
    EXPECT_EQ(alertData(*p, heard[2].first).substr(3, 59), line("READY"));   // locked text at the time
    EXPECT_EQ(alertData(*p, heard[3].first), "03 40 09 00 4D 00");

    // A button may set the lock itself.
    auto q = load(R"({"panel": {"buttons": [{"code": 9, "lock": 1}]}})");
    ASSERT_EQ(ask(*q, 0x40, hex("00 00 09")), "40");
    EXPECT_EQ(q->variable(0x004D), ByteVec{1});
}

TEST(SimState, JobsAreDeletedByEitherCodeWithTransitionAlerts) {
    auto p = SimPrinter::fromDefault();
    std::vector<unsigned short> ids;
    p->addAlertListener([&](unsigned short id, unsigned long family) {
        EXPECT_EQ(family, 0x5FDu);
        ids.push_back(id);
    });
    EXPECT_EQ(ask(*p, 0x76, hex("00 0D")), "76");
    EXPECT_EQ(ask(*p, 0x76, hex("00 0D")), "rc -3");   // gone
    std::string list = ask(*p, 0x75, hex("FF 00 00 00 40"));
    EXPECT_EQ(list.substr(12, 5), "00 02");              // two jobs left
    EXPECT_EQ(ask(*p, 0x75, hex("FF 00 0D 00 01")).substr(12, 5), "00 00");
    ASSERT_EQ(ids.size(), 1u);
    EXPECT_EQ(alertData(*p, ids[0]).substr(0, 20), "03 20 01 00 0D 01 03");   // the deleted job's record

    EXPECT_EQ(ask(*p, 0x77, hex("00 0C")), "77");         // the other delete code
    EXPECT_EQ(ids.size(), 2u);
}

TEST(SimState, AnEmptyNameReplacesTheEntry) {
    auto p = load(kLayoutProfile);
    ASSERT_TRUE(p);
    EXPECT_EQ(ask(*p, 0x91, hex("01 02 05 54 72 61 79 00")), "91");
    EXPECT_EQ(ask(*p, 0x91, hex("01 03 01 00")), "91");
    EXPECT_EQ(ask(*p, 0x8F), "8F 00 02 03 00 02 04 54 72 61 79");
}

TEST(SimAlerts, RaisedAlertsGetFreshIdsAndReachTheEngineAndTheListeners) {
    auto p = load(kLayoutProfile);
    ASSERT_TRUE(p);
    unsigned short handle;
    ASSERT_EQ(BceAttachPrinter(p, &handle), 0);
    std::vector<unsigned short> heard;
    int token = p->addAlertListener([&](unsigned short id, unsigned long) { heard.push_back(id); });

    unsigned short a = p->raiseProfileAlert("odd"), b = p->raiseProfileAlert(size_t{6});
    EXPECT_EQ(p->raiseProfileAlert("nosuch") | p->raiseProfileAlert(size_t{99}), 0);
    EXPECT_GT(a, p->profileAlertCount());
    EXPECT_NE(a, b);
    EXPECT_EQ(alertData(*p, a), "01");
    EXPECT_EQ(alertData(*p, b).substr(0, 8), "03 80 01");

    unsigned short c = p->setDeviceStatus(0x40, 1, 2);
    EXPECT_EQ(ask(*p, 0x01), "01 40 01 02");
    EXPECT_EQ(heard, (std::vector<unsigned short>{a, b, c}));
    p->removeAlertListener(token);
    p->raiseAlert(0x600, {1});
    EXPECT_EQ(heard.size(), 3u);

    unsigned short id;
    unsigned long family;
    for (unsigned long expected : {0x5F4ul, 0x600ul, 0x5F4ul, 0x600ul}) {
        ASSERT_EQ(BceWaitAlert(handle, 0, &id, &family), 0);
        EXPECT_EQ(family, expected);
    }
    BceClosePrinter(handle);
}

TEST(SimIdentity, CreateReportsTheProfileItCannotRead) {
    char message[256] = "";
    BcePrinter* created = kvprtsim_create("/nonexistent.json", message, sizeof message);
    EXPECT_EQ(created, nullptr);
    EXPECT_NE(std::string(message).find("/nonexistent.json"), std::string::npos);
    created = kvprtsim_create(nullptr, message, sizeof message);
    ASSERT_NE(created, nullptr);
    delete created;
    EXPECT_EQ(std::string(kvprtsim_default_profile()), SimPrinter::defaultProfileJson());
}

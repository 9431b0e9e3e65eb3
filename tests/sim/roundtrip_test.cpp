// Round trip through the whole stack: what the library decodes from the
// simulated printer equals what the built-in profile says. Every row runs
// twice, in process (sim:) and over TCP against kvprtsimd, each time on a
// printer of its own (fresh state).
//
// A new decoder adds one row to kRoundTrips, for example:
//   {"input bins", [](Target& t) {
//        unsigned int n = 0;
//        KVPrtObj::INPUTBIN* bins = nullptr;
//        ASSERT_EQ(t.obj.bidiGetInputChars(&n, &bins), 0);
//        ASSERT_EQ(n, t.profile["inputBins"].size());
//        ...
//        delete[] bins;
//    }},
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <map>
#include <iterator>
#include <memory>

#include "profile_json.h"
#include "scripted_printer.h"
#include "sim_daemon.h"

using kvtest::ByteVec;
using simtest::json;

namespace {

struct TestPrtObj : kvtest::OpenPrtObj {
    using OpenPrtObj::OpenPrtObj;
};

struct Target {
    TestPrtObj& obj;
    const json& profile;
    unsigned short handle;
};

struct RoundTrip {
    const char* name;
    void (*check)(Target&);
};

std::string text(const json& v) { return v.get<std::string>(); }

ByteVec bytesOf(const void* data, unsigned long length) {
    auto* p = static_cast<const uint8_t*>(data);
    return ByteVec(p, p + length);
}

// A raw request with the reply returned as bytes (the transport's strip done).
long raw(Target& t, unsigned short code, const ByteVec& data, ByteVec* reply, int force = 0) {
    void* buffer = nullptr;
    unsigned long length = 0;
    long rc = t.obj.bidiQuery(code, const_cast<uint8_t*>(data.data()), data.size(), &buffer, &length, 1, force);
    if (rc == 0) *reply = bytesOf(buffer, length);
    ::operator delete(buffer);
    return rc;
}

const json& nameFor(const json& profile, unsigned netType) {
    for (const json& n : profile["names"])
        if (n["netType"] == netType) return n;
    throw std::runtime_error("no name for the network type");
}

ByteVec adapterAddress(const json& profile) {
    std::string mac = text(profile["identity"]["adapterAddress"]);
    for (char& c : mac)
        if (c == ':') c = ' ';
    return kvtest::hex(mac);
}

const RoundTrip kRoundTrips[] = {
    {"printer information",
     [](Target& t) {
         PRTINFO info{};
         ASSERT_EQ(t.obj.bidiGetPrinterInfo(&info), 0);
         const json& id = t.profile["identity"];
         EXPECT_EQ(info.szModelName, text(id["model"]));
         EXPECT_EQ(info.szSerialNumber, text(id["serial"]));
         EXPECT_EQ(info.szPortName, text(id["portName"]));
         EXPECT_EQ(bytesOf(info.abAdapterAddress, 6), adapterAddress(t.profile));
         EXPECT_EQ(info.usFlags & PRTINFO_BIDI_CAPABLE, id["bidiCapable"].get<bool>() ? PRTINFO_BIDI_CAPABLE : 0);
         uint32_t attachment = 0;
         for (const json& n : id["netTypes"]) attachment |= n.get<uint32_t>();
         for (const json& a : id["addresses"]) attachment |= a == "ip" ? PRTINFO_HAS_IP : a == "ipx" ? PRTINFO_HAS_IPX : PRTINFO_HAS_DLC;
         EXPECT_EQ(info.ulAttachment, attachment);
         EXPECT_EQ(info.usNetTypeCode, id["netTypeCode"].get<unsigned>());
         EXPECT_EQ(info.usNetSubCode, id["netSubCode"].get<unsigned>());
     }},
    {"capabilities",
     [](Target& t) {
         KVPrtObj::BIDICAPABILITIES caps;
         ASSERT_EQ(t.obj.getBidiCaps(&caps), 1);
         const json& ip = nameFor(t.profile, 2);
         EXPECT_EQ(caps.bBidiActive, 1);
         EXPECT_EQ(caps.strPortName, text(t.profile["identity"]["portName"]));
         EXPECT_EQ(caps.dwProtocols, 0x02u);   // the profile's network type 0x02 only
         EXPECT_EQ(caps.nConnectionKind, 4);   // network type code 2, sub-code 1
         EXPECT_EQ(caps.strAddresses, "[IP]  " + text(ip["address"]));
         EXPECT_EQ(caps.nAddressCount, 1);
         EXPECT_EQ(caps.strNetName2, text(ip["name"]));
         std::string digits = kvtest::toHex(adapterAddress(t.profile));
         digits.erase(std::remove(digits.begin(), digits.end(), ' '), digits.end());
         EXPECT_EQ(caps.strAdapterAddress, digits);
     }},
    {"network address",
     [](Target& t) {
         NETADDRESS_LEVEL2 address{};
         ASSERT_EQ(t.obj.getBCENetAddress(&address, 2), 0);
         const json& a = t.profile["netAddress"];
         EXPECT_EQ(address.szHostName, text(a["hostName"]));
         EXPECT_EQ(address.szAddress, text(a["address"]));
         EXPECT_EQ(address.ulPort, a["port"].get<uint32_t>());
         EXPECT_EQ(bytesOf(address.abHardware, 6), adapterAddress(t.profile));
     }},
    {"printer type and family",
     [](Target& t) {
         unsigned long type = 7, rawType = 7, family = 7;
         ASSERT_EQ(t.obj.bidiGetPrinterType(&type, &rawType), 0);
         ByteVec expected = simtest::valueBytes(simtest::variableNamed(t.profile, "miscVariables", "00 A7")["value"]);
         EXPECT_EQ(rawType, expected.at(0));
         EXPECT_EQ(type, 0u);   // raw type 2 is printer type 0
         ASSERT_EQ(t.obj.bidiGetPrinterFamily(&family), 0);
         EXPECT_EQ(family, type);
     }},
    {"page counts",
     [](Target& t) {
         KVPrtObj::PAGECOUNTDATA counts;
         ASSERT_EQ(t.obj.bidiGetPageCounts(&counts), 0);
         uint32_t expected[5] = {};
         for (const json& c : t.profile["pageCounts"]) expected[c["type"].get<unsigned>()] = c["count"].get<uint32_t>();
         EXPECT_EQ(counts.dwPageCountType1, expected[1]);
         EXPECT_EQ(counts.dwPageCountType2, expected[2]);
         EXPECT_EQ(counts.dwPageCountType3, 0u);
         EXPECT_EQ(counts.dwPageCountType4, expected[4]);
     }},
    {"host page count reset",
     [](Target& t) {
         ASSERT_EQ(t.obj.bidiResetHostPageCount(), 0);
         KVPrtObj::PAGECOUNTDATA counts;
         ASSERT_EQ(t.obj.bidiGetPageCounts(&counts), 0);
         ASSERT_EQ(t.profile["hostPageCountType"], 2);
         EXPECT_EQ(counts.dwPageCountType2, 0u);
         EXPECT_NE(counts.dwPageCountType1, 0u);
     }},
    {"control commands",
     [](Target& t) {
         EXPECT_EQ(t.obj.bidiPORPrinter(), 0);
         EXPECT_EQ(t.obj.SendRemoteOffline(), 0);
         EXPECT_EQ(t.obj.SendRemoteOnline(), 0);
     }},
    {"object-model variables",
     [](Target& t) {
         for (const json& v : t.profile["variables"]) {
             ByteVec id = simtest::varId(v["id"]);
             void* value = nullptr;
             unsigned long length = 0;
             ASSERT_EQ(t.obj.bidiReadOMVar(id.data(), &value, &length), 0) << text(v["id"]);
             ByteVec expected = id;
             ByteVec bytes = simtest::valueBytes(v["value"]);
             expected.insert(expected.end(), bytes.begin(), bytes.end());
             EXPECT_EQ(bytesOf(value, length), expected) << text(v["id"]);
             ::operator delete(value);
         }
     }},
    {"several object-model variables at once",
     [](Target& t) {
         ByteVec ids;
         for (const json& v : t.profile["variables"]) {
             ByteVec id = simtest::varId(v["id"]);
             ids.insert(ids.end(), id.begin(), id.end());
         }
         _MULTIOMVAR* vars = nullptr;
         unsigned short count = 0;
         auto n = static_cast<unsigned short>(ids.size() / 2);
         ASSERT_EQ(t.obj.bidiReadMultiOMVars(ids.data(), n, &vars, &count), 0u);
         ASSERT_EQ(count, n);
         for (unsigned short i = 0; i < count; ++i) {
             const json& v = t.profile["variables"][i];
             EXPECT_EQ(bytesOf(&vars[i].id, 2), simtest::varId(v["id"]));
             EXPECT_EQ(bytesOf(vars[i].value, vars[i].length), simtest::valueBytes(v["value"])) << text(v["id"]);
         }
         delete[] vars;
     }},
    {"miscellaneous variables",
     [](Target& t) {
         for (const json& v : t.profile["miscVariables"]) {
             ByteVec id = simtest::varId(v["id"]);
             void* value = nullptr;
             unsigned long length = 0;
             ASSERT_EQ(t.obj.bidiReadMiscVar(id.data(), &value, &length, 0), 0) << text(v["id"]);
             EXPECT_EQ(bytesOf(value, length), simtest::valueBytes(v["value"])) << text(v["id"]);
             ::operator delete(value);
         }
     }},
    {"a set variable reads back and raises a variable event",
     [](Target& t) {
         ByteVec id = kvtest::hex("07 54");
         std::string tag = "TAG-7";
         ASSERT_EQ(t.obj.bidiSetOMVar(id.data(), tag.data(), tag.size()), 0);
         void* value = nullptr;
         unsigned long length = 0;
         ASSERT_EQ(t.obj.bidiReadOMVar(id.data(), &value, &length), 0);
         EXPECT_EQ(bytesOf(value, length), kvtest::Bytes().raw(id).text(tag).vec());
         ::operator delete(value);

         unsigned short alertId = 0;
         unsigned long family = 0;
         ASSERT_EQ(BceWaitAlert(t.handle, 5000, &alertId, &family), 0);
         EXPECT_EQ(family, 0x5FEu);
         void* data = nullptr;
         ASSERT_EQ(t.obj.bidiQueryAlert(alertId, family, &data, &length, 2), 0);
         EXPECT_EQ(bytesOf(data, length), (kvtest::Bytes{0x03, 0x40, 0x09}.raw(id).text(tag).vec()));
         ::operator delete(data);
     }},
    {"non-volatile memory reset restores the variables",
     [](Target& t) {
         ByteVec id = kvtest::hex("01 01");
         uint8_t copies[2] = {0, 9};
         ASSERT_EQ(t.obj.bidiSetOMVar(id.data(), copies, 2), 0);
         ASSERT_EQ(t.obj.bidiResetNVRAM(), 0);
         void* value = nullptr;
         unsigned long length = 0;
         ASSERT_EQ(t.obj.bidiReadOMVar(id.data(), &value, &length), 0);
         ByteVec expected = simtest::valueBytes(simtest::variableNamed(t.profile, "variables", "01 01")["value"]);
         EXPECT_EQ(bytesOf(static_cast<uint8_t*>(value) + 2, length - 2), expected);
         ::operator delete(value);
     }},
    {"loop-back",
     [](Target& t) {
         t.obj.setBidi(0);   // the loop-back request is sent forced
         ByteVec reply;
         ASSERT_EQ(raw(t, 0x34, kvtest::Bytes().text("PING"), &reply, 1), 0);
         EXPECT_EQ(reply, kvtest::Bytes().text("PING").vec());
         EXPECT_EQ(t.obj.isBidiActive(), 1);
     }},
    {"available ports",
     [](Target& t) {
         ByteVec reply;
         ASSERT_EQ(raw(t, 0x9B, {}, &reply), 0);
         kvtest::Bytes expected;
         expected.u8(static_cast<unsigned>(t.profile["ports"].size()));
         for (const json& p : t.profile["ports"]) expected.u8(p.get<unsigned>());
         EXPECT_EQ(reply, expected.vec());
     }},
    {"operator panel text",
     [](Target& t) {
         ByteVec reply;
         ASSERT_EQ(raw(t, 0x43, {}, &reply), 0);
         const json& panel = t.profile["panel"];
         std::string expected;
         for (const json& line : panel["text"]) {
             std::string l = text(line);
             l.resize(panel["width"].get<size_t>(), ' ');
             expected += l;
         }
         EXPECT_EQ(reply, kvtest::Bytes().text(expected).vec());
     }},
    {"device status",
     [](Target& t) {
         ByteVec reply;
         ASSERT_EQ(raw(t, 0x01, {}, &reply), 0);
         kvtest::Bytes expected;
         for (const json& b : t.profile["deviceStatus"]) expected.u8(b.get<unsigned>());
         EXPECT_EQ(reply, expected.vec());
     }},
    {"held alerts of every family",
     [](Target& t) {
         // The profile's alerts are held under ids 1, 2, ... in profile order.
         const std::map<std::string, ByteVec> leading = {
             {"deviceStatus", {}},           {"jobStatus", {0x03, 0x01}},     {"operatorPanel", {0xE1}},
             {"jobTransition", {0x03, 0x20}}, {"variableEvent", {0x03, 0x40}}, {"toner", {0x03, 0x80, 0x01}}};
         unsigned short id = 1;
         for (const json& a : t.profile["alerts"]) {
             void* data = nullptr;
             unsigned long length = 0;
             ASSERT_EQ(t.obj.bidiQueryAlert(id, 0, &data, &length, 2), 0) << text(a["name"]);
             ByteVec bytes = bytesOf(data, length);
             ::operator delete(data);
             const ByteVec& lead = leading.at(text(a["family"]));
             ASSERT_GE(bytes.size(), lead.size());
             EXPECT_EQ(ByteVec(bytes.begin(), bytes.begin() + static_cast<long>(lead.size())), lead) << text(a["name"]);
             if (a["family"] == "deviceStatus") {
                 kvtest::Bytes status;
                 for (const json& b : a["status"]) status.u8(b.get<unsigned>());
                 EXPECT_EQ(bytes, status.vec());
             }
             ++id;
         }
     }},
};

enum class Transport { InProcess, Tcp };

class RoundTripTest : public testing::TestWithParam<std::tuple<Transport, size_t>> {
public:
    static void SetUpTestSuite() {
        s_daemon = std::make_unique<kvtest::SimDaemon>(
            KVPRTSIMD, std::vector<std::string>{"--copies", std::to_string(std::size(kRoundTrips))});
    }
    static void TearDownTestSuite() { s_daemon.reset(); }

protected:
    void SetUp() override {
        auto [transport, row] = GetParam();
        std::string uri = transport == Transport::InProcess ? "sim:" : s_daemon->uri(std::to_string(row));
        ASSERT_EQ(BceOpenPrinter(uri.c_str(), &m_handle), 0) << BceLastOpenError();
        m_obj = std::make_unique<TestPrtObj>(m_handle, 1);
    }
    void TearDown() override {
        m_obj.reset();
        if (m_handle) BceClosePrinter(m_handle);
    }

    static std::unique_ptr<kvtest::SimDaemon> s_daemon;
    unsigned short m_handle = 0;
    std::unique_ptr<TestPrtObj> m_obj;
};

std::unique_ptr<kvtest::SimDaemon> RoundTripTest::s_daemon;

TEST_P(RoundTripTest, LibraryDecodesWhatTheProfileSays) {
    ASSERT_TRUE(m_obj);
    Target target{*m_obj, simtest::defaultProfile(), m_handle};
    kRoundTrips[std::get<1>(GetParam())].check(target);
}

std::string rowName(const testing::TestParamInfo<RoundTripTest::ParamType>& info) {
    std::string name = std::get<0>(info.param) == Transport::InProcess ? "sim_" : "tcp_";
    for (const char* c = kRoundTrips[std::get<1>(info.param)].name; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Rows, RoundTripTest,
                         testing::Combine(testing::Values(Transport::InProcess, Transport::Tcp),
                                          testing::Range<size_t>(0, std::size(kRoundTrips))),
                         rowName);

}  // namespace

// Round trip through the whole stack: what the library decodes from the
// simulated printer with the built-in profile and the faults of --faulty, and what it reads back after
// each change, written one line per record and compared whole with the row's
// section of roundtrip.golden. Every row runs in process (sim:) and over TCP
// against kvprtsimd, each on a fresh printer.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <memory>
#include <numeric>
#include <sstream>
#include <tuple>
#include <type_traits>

#include "kvprtobj/jobs.h"
#include "kvprtobj/jsalert.h"
#include "kvprtobj/toner.h"
#include "profile_json.h"
#include "scripted_printer.h"
#include "sim_daemon.h"
#include "alert_list.h"
#include "temp_dir.h"

using kvtest::ByteVec;
using simtest::json;

namespace {

// The ids the printer holds the profile's alerts under, by family (1, 2, ... in profile order).
constexpr unsigned short kDeviceStatusAlert = 1, kJobStatusAlert = 2, kPanelAlert = 3, kJobTransitionAlert = 4,
                         kTagEventAlert = 5, kByteEventAlert = 6, kTonerAlert = 7;

struct Target {
    kvtest::OpenPrtObj& obj;
    unsigned short handle;
    std::ostream& out;
};

// One line of a transcript: `label`, then each field after a space, numbers
// as numbers and anything else in quotes (so that an empty text shows).
template <typename T>
void field(std::ostream& out, const T& v) {
    if constexpr (std::is_arithmetic_v<T>)
        out << ' ' << +v;
    else
        out << " '" << v << "'";
}
template <typename... T>
void line(std::ostream& out, const std::string& label, const T&... fields) {
    out << label;
    (field(out, fields), ...);
    out << '\n';
}

std::string hex(uint32_t word) { return kvtest::toHex(kvtest::Bytes().be32(word)); }

ByteVec bytesOf(const void* data, unsigned long length) {
    auto* p = static_cast<const uint8_t*>(data);
    return ByteVec(p, p + length);
}

// The `n` records of an array the library allocated with new[], freed.
template <typename T, typename N>
std::vector<T> owned(T* array, N n) {
    std::unique_ptr<T[]> free(array);
    return std::vector<T>(array, array + n);
}

ByteVec readVariable(Target& t, const ByteVec& id) {
    long rc = 0;
    ByteVec value = kvtest::readVariable(t.obj, id, &rc);
    EXPECT_EQ(rc, 0) << kvtest::toHex(id);
    return value;
}

// The next alert announced for the printer, which must be of `family`.
unsigned short nextAlert(Target& t, unsigned long family) {
    unsigned short id = 0;
    unsigned long got = 0;
    EXPECT_EQ(BceWaitAlert(t.handle, 5000, &id, &got), 0);
    EXPECT_EQ(got, family);
    return id;
}

// A variable-event alert whose value has `length` bytes.
void variableEvent(Target& t, unsigned short id, size_t length) {
    KVPrtObj::OMVAREVENTDATA e;
    EXPECT_EQ(t.obj.bidiQueryOMVarEventAlert(id, &e), 0);
    line(t.out, "variable-event alert", id, e.byEventType, e.byValue, kvtest::toHex(e.abyVarId, 2),
         kvtest::toHex(kvtest::take(e.pbyData, length)));
}

// A job's fields in order; the short record of a job-transition alert ends after jobLong17.
void job(std::ostream& out, const std::string& label, const KVPrtObj::KVPJOBDATA& j) {
    line(out, label, j.jobByte0, j.jobNumber, j.jobByte3, j.jobByte4, j.jobWord5, j.jobWord7, kvtest::toHex(j.jobBytes9, 4),
         j.jobByte13, j.jobLong17, j.jobLong21, j.jobLong25, j.jobLong29, j.jobLong33, j.jobLong37, j.strJobJN, j.strJobUR);
}

void printJobs(Target& t, unsigned short number) {
    unsigned int n = 0;
    KVPrtObj::KVPJOBDATA* jobs = nullptr;
    EXPECT_EQ(t.obj.bidiQueryJobs(number, &n, &jobs), 0);
    line(t.out, "jobs of " + std::to_string(number), n);
    for (const auto& j : owned(jobs, n)) job(t.out, "job", j);
}

// Custom names read, then the first renamed and read again.
using NameRead = long (KVPrtObj::*)(_CUSTOMNAME**, unsigned short*);
using NameWrite = long (KVPrtObj::*)(unsigned short, const CString&);

void names(Target& t, const char* what, NameRead read, NameWrite write) {
    for (int round = 0; round < 2; ++round) {
        _CUSTOMNAME* names = nullptr;
        unsigned short n = 0;
        EXPECT_EQ((t.obj.*read)(&names, &n), 0);
        std::vector<_CUSTOMNAME> got = owned(names, n);
        for (const auto& name : got) line(t.out, what, name.usNumber, name.strName);
        if (round == 0 && n > 0) line(t.out, "rename", (t.obj.*write)(got[0].usNumber, "Renamed " + got[0].strName));
    }
}

void panel(Target& t, const char* when) {
    void* data = nullptr;
    int locked = -1;
    EXPECT_EQ(t.obj.bidiROPQueryData(&data), 0);
    EXPECT_EQ(t.obj.bidiROPQueryLock(&locked), 0);
    std::unique_ptr<KVPrtObj::OPPANELDATA> shown(static_cast<KVPrtObj::OPPANELDATA*>(data));
    ASSERT_TRUE(shown);
    line(t.out, when, shown->nPanelWidth, shown->nPanelHeight, locked, shown->strPanelText);
}

// ---- values the library derives through its own tables ----

// Decoded supplies, one line each.
void supplies(std::ostream& out, const std::string& what, KvTonerPrediction::TonerInfoArray& info) {
    for (unsigned i = 0; i < info.numSupplies(); ++i) {
        const KvTonerPrediction::TonerInfo& s = *info[i];
        line(out, what + " supply", s.bySupplyId, s.byAttribute, s.byLevel, s.byLevelCount, s.ulValueD, s.ulValueA,
             s.ulPageCount, s.ulBasePageCount, s.ulValueB, s.byValueC, s.ulAdjustHigh, s.ulAdjustLow, s.ulStepHigh,
             s.ulStepLow, s.ulStep);
    }
}

// What the printer holds before a change, as the library decodes it, beyond
// what kvprt's report and fonts show (kvprt.golden.md, the report compared
// whole over sim: and TCP with report.golden.json): identity, address,
// capabilities, alert summaries, bins, status bits, one job, alerts held,
// fonts and variables.
void derived(Target& t) {
    std::ostream& out = t.out;
    PRTINFO info{};
    EXPECT_EQ(t.obj.bidiGetPrinterInfo(&info), 0);
    line(out, "printer", info.szModelName, info.szSerialNumber, info.szPortName, kvtest::toHex(info.abAdapterAddress, 6),
         info.usFlags, info.ulAttachment, info.usNetTypeCode, info.usNetSubCode);
    NETADDRESS_LEVEL2 address{};
    EXPECT_EQ(t.obj.getBCENetAddress(&address, 2), 0);
    line(out, "net address", address.szHostName, address.szAddress, address.ulPort, kvtest::toHex(address.abHardware, 6));
    KVPrtObj::BIDICAPABILITIES caps;
    EXPECT_EQ(t.obj.getBidiCaps(&caps), 1);
    line(out, "capabilities", caps.bBidiActive, caps.strPortName, caps.dwProtocols, caps.nConnectionKind,
         caps.strAddresses, caps.nAddressCount, caps.strNetName2, caps.strAdapterAddress);
    // The lists are in the report; their summary words are not.
    using SummaryQuery = long (KVPrtObj::*)(KVPrtObj::PRTALERTS*);
    const std::pair<const char*, SummaryQuery> summaries[] = {
        {"input status", &KVPrtObj::bidiQueryInputStatus},
        {"output status", &KVPrtObj::bidiQueryOutputStatus},
        {"paper jams", &KVPrtObj::bidiQueryPaperJams},
        {"warnings", &KVPrtObj::bidiQueryWarnings},
        {"service required", &KVPrtObj::bidiQueryServiceReq},
        {"configuration change", &KVPrtObj::bidiQueryConfigChg},
        {"supplies", &KVPrtObj::bidiQuerySupplies}};
    for (auto [name, summary] : summaries) {
        KVPrtObj::PRTALERTS word{};
        EXPECT_EQ((t.obj.*summary)(&word), 0) << name;
        line(out, name + std::string(" summary"), hex(kvtest::word(word)));
    }
    KVPrtObj::PRTALERTS alerts{};
    KVPrtObj::UIRALERTS interventions{};
    EXPECT_EQ(t.obj.bidiQueryOperatorIV(&alerts, &interventions), 0);
    line(out, "operator intervention summary", hex(kvtest::word(alerts)), hex(kvtest::word(interventions)));
    KVPrtObj::PRINTERSTATUS status{}, held{};
    EXPECT_EQ(t.obj.bidiQueryDeviceStatus(&status), 0);
    EXPECT_EQ(t.obj.bidiQueryDSAAlert(kDeviceStatusAlert, &held), 0);
    line(out, "device status, device-status alert", hex(kvtest::word(status)), hex(kvtest::word(held)));
    unsigned int bins = 0;
    KVPrtObj::INPUTBIN* in = nullptr;
    EXPECT_EQ(t.obj.bidiGetInputChars(&bins, &in), 0);
    for (const auto& b : owned(in, bins))
        line(out, "input bin", b.usBinNumber, b.usBinId, b.ulCapacity, b.usSizeCode, b.usByte8, b.strName);
    KVPrtObj::OUTPUTBIN* outs = nullptr;
    EXPECT_EQ(t.obj.bidiGetOutputChars(&bins, &outs), 0);
    for (const auto& b : owned(outs, bins))
        line(out, "output bin", b.usBinNumber, b.usBinId, b.usByte1, b.ulCapacity, b.ulByte6Bit0, b.ulByte6Bit1,
             b.ulByte6Bit2, b.ulByte6Bit3, b.ulByte6Bit4, b.ulByte6Bit5, b.ulByte7Bit0, b.ulByte7Bit1, b.ulByte7Bit2,
             b.ulByte7Bit7, b.strName);
    printJobs(t, 14);   // the last job of the profile, alone
    KVPrtObj::KVPJOBDATA ended;
    EXPECT_EQ(t.obj.bidiQueryJobTranAlert(kJobTransitionAlert, &ended), 0);
    job(out, "job-transition alert", ended);
    JSALERTDATA a(3);
    EXPECT_EQ(t.obj.bidiJSQueryAlert(kJobStatusAlert, a), 0);
    line(out, "job-status alert", a.m_wHeaderA, a.m_wHeaderB, a.m_wHeaderC, a.m_dwStatusByte, a.m_byValueTag, a.m_strText,
         a.strHT, a.strUR, a.strSC, a.strJN, a.strQU, a.strLS, a.strOther);
    for (unsigned i = 1; i <= a.m_wInputCount; ++i) {
        const auto& c = a.m_pInputData[i];
        line(out, "  input", c.dwCounter1, c.dwCounter2, c.dwCounter3, c.dwCounter4, c.dwCounter5);
    }
    for (unsigned i = 1; i <= a.m_wValueCount; ++i) line(out, "  value", a.m_pValueData[i].byValueId, a.m_pValueData[i].dwValue);
    KvTonerPrediction prediction(&t.obj);
    KvTonerPrediction::TonerInfoArray toner;
    EXPECT_EQ(prediction.GetTonerAlertData(kTonerAlert, toner), 0);
    supplies(out, "toner alert", toner);
    unsigned short fontCount = 0;
    _FONTDETAILS* fonts = nullptr;
    EXPECT_EQ(t.obj.bidiGetFontDetails(0, 0, &fontCount, &fonts), 0);
    for (const auto& f : owned(fonts, fontCount))   // the valid-field flags are the font suite's
        line(out, "font", f.strName, f.byTechnology, f.byFontTag, f.usPosition, f.usSymbolSet, f.bySpacing, f.lStyle,
             f.lWeight, f.lTypeface, f.lResolution, kvtest::toHex(f.abCharComplement, 8), f.ulSize);
    ByteVec ids;
    for (const json& v : simtest::defaultProfile()["variables"]) {
        ByteVec id = kvtest::hex(v["id"].get<std::string>());
        line(out, "variable", kvtest::toHex(readVariable(t, id)));
        ids.insert(ids.end(), id.begin(), id.end());
    }
    _MULTIOMVAR* vars = nullptr;
    unsigned short count = 0;
    EXPECT_EQ(t.obj.bidiReadMultiOMVars(ids.data(), static_cast<unsigned short>(ids.size() / 2), &vars, &count), 0u);
    for (const auto& v : owned(vars, count))
        line(out, "variable of several", kvtest::toHex(bytesOf(&v.id, 2)), kvtest::toHex(bytesOf(v.value, v.length)));
    for (const json& v : simtest::defaultProfile()["miscVariables"]) {
        void* value = nullptr;
        unsigned long length = 0;
        EXPECT_EQ(t.obj.bidiReadMiscVar(kvtest::hex(v["id"].get<std::string>()).data(), &value, &length, 0), 0);
        line(out, "miscellaneous variable", v["id"].get<std::string>(), kvtest::toHex(kvtest::take(value, length)));
    }
    void* panel = nullptr;
    EXPECT_EQ(t.obj.bidiROPQueryAlert(kPanelAlert, &panel), 0);
    std::unique_ptr<KVPrtObj::OPPANELDATA> ownedPanel(static_cast<KVPrtObj::OPPANELDATA*>(panel));
    line(out, "operator-panel alert", ownedPanel ? ownedPanel->strPanelText : "");
    variableEvent(t, kTagEventAlert, 10);   // the profile's tag, ASSET-0042
    variableEvent(t, kByteEventAlert, 0);
}

struct RoundTrip {
    const char* name;
    void (*run)(Target&);
};

const RoundTrip kRoundTrips[] = {
    {"derived values", derived},
    {"control commands", [](Target& t) {
         for (auto command : {&KVPrtObj::bidiPORPrinter, &KVPrtObj::SendRemoteOffline, &KVPrtObj::SendRemoteOnline})
             line(t.out, "command", (t.obj.*command)());
     }},
    {"property tag: set, it reads back and raises a variable event", [](Target& t) {
         KVPrtObj::PROPERTYTAG tag;
         tag.strTag = "stale";
         line(t.out, "get", t.obj.bidiGetPropertyTag(&tag), tag.strTag);   // not read from the printer
         line(t.out, "set", t.obj.bidiSetPropertyTag("TAG-7"));
         line(t.out, "variable", kvtest::toHex(readVariable(t, {0x07, 0x54})));
         variableEvent(t, nextAlert(t, 0x5FE), 5);
     }},
    {"non-volatile memory reset restores the variables", [](Target& t) {
         uint8_t copies[2] = {0, 9};
         line(t.out, "set", t.obj.bidiSetOMVar(kvtest::hex("01 01").data(), copies, 2));
         line(t.out, "reset", t.obj.bidiResetNVRAM());
         line(t.out, "variable", kvtest::toHex(readVariable(t, {0x01, 0x01})));
     }},
    {"current font: the last of the list set reads back", [](Target& t) {
         _FONTDETAILS font;
         EXPECT_EQ(t.obj.bidiGetCurrentFontInformation(&font), 0);
         std::tie(font.byFontTag, font.usPosition, font.usSymbolSet, font.ulSize) = std::tuple(2, 3, 14, 14);
         unsigned char status = 0xEE;
         line(t.out, "set", t.obj.bidiSetCurrentFontInformation(&font, &status), status);
         _FONTDETAILS back;
         EXPECT_EQ(t.obj.bidiGetCurrentFontInformation(&back), 0);
         line(t.out, "current font", back.byFontTag, back.usPosition, back.usSymbolSet, back.ulSize);
     }},
    {"available ports and loop-back, sent even while bidi is marked inactive", [](Target& t) {
         t.obj.setBidi(0);
         int flags[32];
         std::fill(std::begin(flags), std::end(flags), 7);
         long rc = t.obj.bidiGetAvailablePorts(static_cast<int>(std::size(flags)), flags);
         line(t.out, "ports", rc, std::accumulate(std::begin(flags), std::end(flags), std::string(),
                                                  [](std::string s, int f) { return s + std::to_string(f); }));
         t.obj.setBidi(0);
         line(t.out, "loop-back", t.obj.bidiLoopBack());
         line(t.out, "active", t.obj.isBidiActive());
     }},
    {"form names and output bin nicknames: read, and a write reads back", [](Target& t) {
         names(t, "form", &KVPrtObj::bidiGetFormNames, &KVPrtObj::bidiSetFormName);
         names(t, "bin", &KVPrtObj::bidiGetOutputBinNicknames, &KVPrtObj::bidiSetOutputBinNickname);
     }},
    {"job delete: the job is gone and its end announced", [](Target& t) {
         line(t.out, "delete", t.obj.bidiDeleteJob(12, 0));
         printJobs(t, 12);
         printJobs(t, 0);
         KVPrtObj::KVPJOBDATA gone;
         EXPECT_EQ(t.obj.bidiQueryJobTranAlert(nextAlert(t, 0x5FD), &gone), 0);
         job(t.out, "gone", gone);
     }},
    {"job priority change reads back", [](Target& t) {
         unsigned char answer = 0xEE;
         line(t.out, "change", t.obj.bidiChangeJobPriority(9, 14, &answer), answer);
         printJobs(t, 14);
     }},
    {"panel text and lock; a lock set reads back and shows the locked text", [](Target& t) {
         panel(t, "first");
         for (int lock : {1, 0}) {
             line(t.out, "lock", t.obj.bidiROPSetLock(lock));
             panel(t, "then");
         }
     }},
    {"panel buttons show their text; reset shows the first text again", [](Target& t) {
         for (unsigned long button = 1; button <= 5; ++button) {   // Menu, Select, Return, Stop, Go
             line(t.out, "button", button, t.obj.bidiROPPushButton(button));
             panel(t, "shown");
             line(t.out, "reset", t.obj.bidiROPReset());
             panel(t, "shown");
         }
     }},
    {"panel continue clears the operator interventions", [](Target& t) {
         line(t.out, "continue", t.obj.bidiROPContinue());
         unsigned int count = 1;
         KVPrtObj::KVPALERTDATA* list = nullptr;
         EXPECT_EQ(t.obj.bidiQueryOperatorIV(&count, &list), 0);
         EXPECT_EQ(kvtest::takeList(list, count), kvtest::Alerts{});
     }},
};

// The section of roundtrip.golden under "== NAME", up to the next such line.
std::string goldenSection(const std::string& name) {
    std::istringstream in(kvtest::readText(KVPO_ROUNDTRIP_GOLDEN));
    std::string out;
    bool inside = false;
    for (std::string line; std::getline(in, line);) {
        if (line.rfind("== ", 0) == 0)
            inside = line == "== " + name;
        else if (inside)
            out += line + "\n";
    }
    return out;
}

// Over TCP or not, and the row.
class RoundTripTest : public testing::TestWithParam<std::tuple<bool, size_t>> {
public:
    // The built-in profile with the faults of --faulty, so that every alert family has something to decode:
    // in process from the test's own merge of the two, over TCP from kvprtsimd's.
    static void SetUpTestSuite() {
        json faulty = simtest::defaultProfile();
        faulty.merge_patch(json::parse(std::ifstream(KVPRTSIM_FAULTY_OVERLAY)));
        std::ofstream(s_dir.file("faulty.json")) << faulty;
        const std::string copies = std::to_string(std::size(kRoundTrips));
        s_daemon = std::make_unique<kvtest::SimDaemon>(KVPRTSIMD, std::vector<std::string>{"--copies", copies, "--faulty", copies});
    }
    static void TearDownTestSuite() { s_daemon.reset(); }

protected:
    static kvtest::TempDir s_dir;
    static std::unique_ptr<kvtest::SimDaemon> s_daemon;
};

kvtest::TempDir RoundTripTest::s_dir;
std::unique_ptr<kvtest::SimDaemon> RoundTripTest::s_daemon;

TEST_P(RoundTripTest, LibraryDecodesWhatTheProfileSays) {
    auto [tcp, row] = GetParam();
    std::string uri = tcp ? s_daemon->uri(std::to_string(row)) : "sim:" + s_dir.file("faulty.json");
    unsigned short handle = 0;
    ASSERT_EQ(BceOpenPrinter(uri.c_str(), &handle), 0) << BceLastOpenError();
    std::ostringstream out;
    {
        kvtest::OpenPrtObj obj(handle, 1);
        Target target{obj, handle, out};
        kRoundTrips[row].run(target);
    }
    BceClosePrinter(handle);
    EXPECT_EQ(out.str(), goldenSection(kRoundTrips[row].name));
}

std::string rowName(const testing::TestParamInfo<RoundTripTest::ParamType>& info) {
    std::string name = std::get<0>(info.param) ? "tcp_" : "sim_";
    for (const char* c = kRoundTrips[std::get<1>(info.param)].name; *c; ++c)
        name += std::isalnum(static_cast<unsigned char>(*c)) ? *c : '_';
    return name;
}

INSTANTIATE_TEST_SUITE_P(Rows, RoundTripTest,
                         testing::Combine(testing::Bool(), testing::Range<size_t>(0, std::size(kRoundTrips))),
                         rowName);

}  // namespace

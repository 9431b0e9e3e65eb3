// Round trip through the whole stack: what the library decodes from the
// simulated printer equals what the built-in profile says. Every row runs in
// process (sim:) and over TCP against kvprtsimd, each on a fresh printer.
// Values the library derives through its own tables (alert ids, bin ids,
// status bits, code levels) are compared with a golden file.
#include <gtest/gtest.h>

#include <algorithm>
#include <cctype>
#include <iterator>
#include <memory>
#include <sstream>
#include <tuple>

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

struct Target {
    kvtest::OpenPrtObj& obj;
    const json& profile;
    unsigned short handle;
};

struct RoundTrip {
    const char* name;
    void (*check)(Target&);
};

std::string text(const json& v) { return v.get<std::string>(); }

// A number field of a profile entry; 0 when the entry leaves it out.
uint32_t num(const json& entry, const char* key) { return entry.contains(key) ? simtest::number(entry[key]) : 0; }

ByteVec bytesOf(const void* data, unsigned long length) {
    auto* p = static_cast<const uint8_t*>(data);
    return ByteVec(p, p + length);
}

ByteVec readVariable(Target& t, const char* id) {
    long rc = 0;
    ByteVec value = kvtest::readVariable(t.obj, kvtest::hex(id), &rc);
    EXPECT_EQ(rc, 0) << id;
    return value;
}

// A variable's reply (its id, then its value) as the profile holds it.
ByteVec profileVariable(Target& t, const char* list, const char* id) {
    const json& value = simtest::variableNamed(t.profile, list, id)["value"];
    return kvtest::Bytes().raw(kvtest::hex(id)).raw(simtest::valueBytes(value));
}

// The profile's alerts of a family, with the ids the printer holds them
// under (1, 2, ... in profile order).
std::vector<std::pair<unsigned short, const json*>> held(const json& profile, const char* family) {
    std::vector<std::pair<unsigned short, const json*>> out;
    unsigned short id = 0;
    for (const json& a : profile["alerts"]) {
        ++id;
        if (a["family"] == family) out.emplace_back(id, &a);
    }
    EXPECT_FALSE(out.empty()) << "the profile holds no alert of the family " << family;
    return out;
}

// The next alert announced for the printer, which must be of `family`.
unsigned short nextAlert(Target& t, unsigned long family) {
    unsigned short id = 0;
    unsigned long got = 0;
    EXPECT_EQ(BceWaitAlert(t.handle, 5000, &id, &got), 0);
    EXPECT_EQ(got, family);
    return id;
}

// ---- jobs ----

// A job's fields in order; a short record (job-transition alerts) ends after jobLong17.
std::string jobText(const KVPrtObj::KVPJOBDATA& j, bool full) {
    std::ostringstream out;
    out << +j.jobByte0 << " " << +j.jobNumber << " " << +j.jobByte3 << " " << +j.jobByte4 << " " << +j.jobWord5 << " "
        << +j.jobWord7 << " " << kvtest::toHex(j.jobBytes9, 4) << " " << +j.jobByte13 << " " << +j.jobLong17;
    if (full)
        out << " " << +j.jobLong21 << " " << +j.jobLong25 << " " << +j.jobLong29 << " " << +j.jobLong33 << " "
            << +j.jobLong37 << " '" << j.strJobJN << "' '" << j.strJobUR << "'";
    return out.str();
}

std::vector<KVPrtObj::KVPJOBDATA> queryJobs(Target& t, unsigned short number) {
    unsigned int n = 0;
    KVPrtObj::KVPJOBDATA* jobs = nullptr;
    EXPECT_EQ(t.obj.bidiQueryJobs(number, &n, &jobs), 0);
    std::unique_ptr<KVPrtObj::KVPJOBDATA[]> owned(jobs);
    return std::vector<KVPrtObj::KVPJOBDATA>(jobs, jobs + n);
}

// ---- custom names ----

using Names = std::vector<std::pair<unsigned, CString>>;
using NameRead = long (KVPrtObj::*)(_CUSTOMNAME**, unsigned short*);
using NameWrite = long (KVPrtObj::*)(unsigned short, const CString&);

Names namesRead(Target& t, NameRead read) {
    _CUSTOMNAME* names = nullptr;
    unsigned short n = 0;
    EXPECT_EQ((t.obj.*read)(&names, &n), 0);
    std::unique_ptr<_CUSTOMNAME[]> owned(names);
    Names out;
    for (unsigned short i = 0; i < n; ++i) out.emplace_back(names[i].usNumber, names[i].strName);
    return out;
}

// The names read as the profile has them; a new name for the first entry reads back in its place.
void names(Target& t, NameRead read, NameWrite write, const json& list) {
    Names expected;
    for (const json& e : list) expected.emplace_back(num(e, "number"), text(e["name"]));
    ASSERT_FALSE(expected.empty());
    EXPECT_EQ(namesRead(t, read), expected);
    expected[0].second = "Renamed " + expected[0].second;
    ASSERT_EQ((t.obj.*write)(static_cast<unsigned short>(expected[0].first), expected[0].second), 0);
    EXPECT_EQ(namesRead(t, read), expected);
}

// ---- panel ----

// The display of `lines`: panel.height lines of panel.width characters.
std::string display(const json& panel, const json& lines) {
    std::string out;
    for (size_t i = 0; i < panel["height"].get<size_t>(); ++i) {
        std::string line = i < lines.size() ? text(lines[i]) : "";
        line.resize(panel["width"].get<size_t>(), ' ');
        out += line;
    }
    return out;
}

KVPrtObj::OPPANELDATA panelShown(Target& t) {
    void* panel = nullptr;
    EXPECT_EQ(t.obj.bidiROPQueryData(&panel), 0);
    std::unique_ptr<KVPrtObj::OPPANELDATA> owned(static_cast<KVPrtObj::OPPANELDATA*>(panel));
    return owned ? *owned : KVPrtObj::OPPANELDATA{};
}

int lockRead(Target& t) {
    int locked = -1;
    EXPECT_EQ(t.obj.bidiROPQueryLock(&locked), 0);
    return locked;
}

// ---- values the library derives through its own tables ----

// Decoded supplies, one line each.
void supplies(std::ostream& out, const std::string& what, KvTonerPrediction::TonerInfoArray& info) {
    for (unsigned i = 0; i < info.numSupplies(); ++i) {
        const KvTonerPrediction::TonerInfo& s = *info[i];
        out << what << " supply " << +s.bySupplyId << " attribute " << +s.byAttribute << " level " << +s.byLevel << "/"
            << +s.byLevelCount << " " << +s.ulValueD << " " << +s.ulValueA << " " << +s.ulPageCount << " "
            << +s.ulBasePageCount << " " << +s.ulValueB << " " << +s.byValueC << " " << +s.ulAdjustHigh << " "
            << +s.ulAdjustLow << " " << +s.ulStepHigh << " " << +s.ulStepLow << " " << +s.ulStep << "\n";
    }
}

// The printer's identity, address, capabilities, type, characteristics,
// interpreters, current font, symbol sets, alerts, bins, status bits, storage, code levels,
// jobs, job alerts, supplies and fonts as the library decodes them from the
// built-in profile, one line per record: compared whole with derived.golden.
std::string derived(Target& t) {
    std::ostringstream out;
    PRTINFO info{};
    EXPECT_EQ(t.obj.bidiGetPrinterInfo(&info), 0);
    out << "printer '" << info.szModelName << "' '" << info.szSerialNumber << "' '" << info.szPortName << "' "
        << kvtest::toHex(info.abAdapterAddress, 6) << " flags " << +info.usFlags << " attachment " << +info.ulAttachment
        << " net " << +info.usNetTypeCode << "/" << +info.usNetSubCode << "\n";
    NETADDRESS_LEVEL2 address{};
    EXPECT_EQ(t.obj.getBCENetAddress(&address, 2), 0);
    out << "net address '" << address.szHostName << "' '" << address.szAddress << "' " << address.ulPort << " "
        << kvtest::toHex(address.abHardware, 6) << "\n";
    KVPrtObj::BIDICAPABILITIES caps;
    EXPECT_EQ(t.obj.getBidiCaps(&caps), 1);
    out << "capabilities " << +caps.bBidiActive << " '" << caps.strPortName << "' " << +caps.dwProtocols << " "
        << +caps.nConnectionKind << " '" << caps.strAddresses << "' " << +caps.nAddressCount << " '" << caps.strNetName2
        << "' '" << caps.strAdapterAddress << "'\n";
    unsigned long type = 7, rawType = 7, family = 7;
    EXPECT_EQ(t.obj.bidiGetPrinterType(&type, &rawType), 0);
    EXPECT_EQ(t.obj.bidiGetPrinterFamily(&family), 0);
    out << "printer type " << type << " raw " << rawType << " family " << family << "\n";
    KVPrtObj::DEVICECHARS chars;
    EXPECT_EQ(t.obj.bidiGetDeviceChars(&chars), 0);
    out << "device characteristics " << +chars.ulReply2 << " " << +chars.byReply7 << " " << +chars.ulReply11 << " "
        << chars.ulSizeKB << " kB '" << chars.strText1 << "' '" << chars.strCodeLevel << "' '" << chars.strText3
        << "' '" << t.obj.m_strCodeLevel << "'\n";
    for (unsigned char i = 1; i <= 5; ++i) {   // PCL, GL, PostScript, WinImage, PPDS
        unsigned char lu = 0xEE;
        out << "interpreter " << +i << ": " << t.obj.bidiGetInterpreterLU(i, &lu) << " " << +lu << "\n";
    }
    _FONTDETAILS current;
    EXPECT_EQ(t.obj.bidiGetCurrentFontInformation(&current), 0);
    out << "current font " << +current.byFontTag << " " << +current.usPosition << " " << +current.usSymbolSet << " "
        << +current.ulSize << "\n";
    unsigned short setCount = 0;
    _SYMBOLSET* sets = nullptr;
    EXPECT_EQ(t.obj.bidiGetSymbolSetList(&setCount, &sets), 0);
    std::unique_ptr<_SYMBOLSET[]> ownedSets(sets);
    for (const auto& set : std::vector(sets, sets + setCount))
        out << "symbol set " << set.usSymbolSet << " " << kvtest::toHex(set.abCharComplement, 8) << " '" << set.strName
            << "'\n";
    using ListQuery = long (KVPrtObj::*)(unsigned int*, KVPrtObj::KVPALERTDATA**);
    using SummaryQuery = long (KVPrtObj::*)(KVPrtObj::PRTALERTS*);
    const std::tuple<const char*, ListQuery, SummaryQuery> families[] = {
        {"input status", &KVPrtObj::bidiQueryInputStatus, &KVPrtObj::bidiQueryInputStatus},
        {"output status", &KVPrtObj::bidiQueryOutputStatus, &KVPrtObj::bidiQueryOutputStatus},
        {"paper jams", &KVPrtObj::bidiQueryPaperJams, &KVPrtObj::bidiQueryPaperJams},
        {"operator intervention", &KVPrtObj::bidiQueryOperatorIV, nullptr},
        {"warnings", &KVPrtObj::bidiQueryWarnings, &KVPrtObj::bidiQueryWarnings},
        {"service required", &KVPrtObj::bidiQueryServiceReq, &KVPrtObj::bidiQueryServiceReq},
        {"configuration change", &KVPrtObj::bidiQueryConfigChg, &KVPrtObj::bidiQueryConfigChg},
        {"supplies", &KVPrtObj::bidiQuerySupplies, &KVPrtObj::bidiQuerySupplies},
        {"supplies status", &KVPrtObj::bidiQuerySuppliesStatus, nullptr}};
    auto hex = [](uint32_t word) { return kvtest::toHex(kvtest::Bytes().be32(word)); };
    for (auto [name, list, summary] : families) {
        out << name << ":";
        unsigned int count = 0;
        KVPrtObj::KVPALERTDATA* alerts = nullptr;
        EXPECT_EQ((t.obj.*list)(&count, &alerts), 0) << name;
        for (const kvtest::Alert& a : kvtest::takeList(alerts, count)) out << " " << a;
        KVPrtObj::PRTALERTS word{};
        if (summary) {
            EXPECT_EQ((t.obj.*summary)(&word), 0) << name;
            out << ", summary " << hex(kvtest::word(word));
        }
        out << "\n";
    }
    KVPrtObj::PRTALERTS alerts{};
    KVPrtObj::UIRALERTS interventions{};
    EXPECT_EQ(t.obj.bidiQueryOperatorIV(&alerts, &interventions), 0);
    out << "operator intervention summary " << hex(kvtest::word(alerts)) << ", " << hex(kvtest::word(interventions)) << "\n";
    KVPrtObj::PRINTERSTATUS status{};
    EXPECT_EQ(t.obj.bidiQueryDeviceStatus(&status), 0);
    out << "device status " << hex(kvtest::word(status)) << "\n";
    for (auto [id, alert] : held(t.profile, "deviceStatus")) {
        EXPECT_EQ(t.obj.bidiQueryDSAAlert(id, &status), 0);
        out << "device-status alert " << id << ": " << hex(kvtest::word(status)) << "\n";
    }
    unsigned int bins = 0;
    KVPrtObj::INPUTBIN* in = nullptr;
    EXPECT_EQ(t.obj.bidiGetInputChars(&bins, &in), 0);
    for (const auto& b : std::vector(in, in + bins))
        out << "input bin " << b.usBinNumber << " id " << b.usBinId << " " << b.ulCapacity << " " << b.usSizeCode << " "
            << b.usByte8 << " '" << b.strName << "'\n";
    delete[] in;
    KVPrtObj::OUTPUTBIN* outs = nullptr;
    EXPECT_EQ(t.obj.bidiGetOutputChars(&bins, &outs), 0);
    for (const auto& b : std::vector(outs, outs + bins))
        out << "output bin " << b.usBinNumber << " id " << b.usBinId << " " << b.usByte1 << " " << b.ulCapacity << " "
            << b.ulByte6Bit0 << b.ulByte6Bit1 << b.ulByte6Bit2 << b.ulByte6Bit3 << b.ulByte6Bit4 << b.ulByte6Bit5 << " "
            << b.ulByte7Bit0 << b.ulByte7Bit1 << b.ulByte7Bit2 << b.ulByte7Bit7 << " '" << b.strName << "'\n";
    delete[] outs;
    KVPrtObj::STORAGEOPTIONS o;
    EXPECT_EQ(t.obj.bidiGetStorageOptions(&o), 0);
    out << "storage flash " << o.lFlashField2 << " " << o.lFlashField3 << " disk " << o.lDiskField2 << " "
        << o.lDiskField3 << " cartridge " << o.ulFontCartridge << " '" << o.strCartridgeField2 << "' '"
        << o.strCartridgeField4 << "'\n";
    int n = 0;
    KVPrtObj::CODELEVELS* levels = nullptr;
    EXPECT_EQ(t.obj.bidiGetCodeLevels(n, &levels), 0);
    std::unique_ptr<KVPrtObj::CODELEVELS[]> owned(levels);
    for (int i = 0; i < n; ++i)
        out << "code level " << levels[i].lComponentId << "/" << levels[i].iInstance << " '" << levels[i].strCodeLevel
            << "'\n";
    for (const auto& j : queryJobs(t, 0)) out << "job " << jobText(j, true) << "\n";
    const auto last = static_cast<unsigned short>(num(t.profile["jobs"].back(), "number"));
    for (const auto& j : queryJobs(t, last)) out << "job " << last << " alone: " << jobText(j, true) << "\n";
    for (auto [id, alert] : held(t.profile, "jobTransition")) {
        KVPrtObj::KVPJOBDATA job;
        EXPECT_EQ(t.obj.bidiQueryJobTranAlert(id, &job), 0);
        out << "job-transition alert " << id << ": " << jobText(job, false) << "\n";
    }
    for (auto [id, alert] : held(t.profile, "jobStatus")) {
        JSALERTDATA a(3);
        EXPECT_EQ(t.obj.bidiJSQueryAlert(id, a), 0);
        out << "job-status alert " << id << ": " << +a.m_wHeaderA << " " << +a.m_wHeaderB << " " << +a.m_wHeaderC << " "
            << +a.m_dwStatusByte << " " << +a.m_byValueTag << " '" << a.m_strText << "' HT '" << a.strHT << "' UR '"
            << a.strUR << "' SC '" << a.strSC << "' JN '" << a.strJN << "' QU '" << a.strQU << "' LS '" << a.strLS
            << "' other '" << a.strOther << "'\n";
        for (unsigned i = 1; i <= a.m_wInputCount; ++i)
            out << "  input " << +a.m_pInputData[i].dwCounter1 << " " << +a.m_pInputData[i].dwCounter2 << " "
                << +a.m_pInputData[i].dwCounter3 << " " << +a.m_pInputData[i].dwCounter4 << " "
                << +a.m_pInputData[i].dwCounter5 << "\n";
        for (unsigned i = 1; i <= a.m_wValueCount; ++i)
            out << "  value " << +a.m_pValueData[i].byValueId << " " << +a.m_pValueData[i].dwValue << "\n";
    }
    KvTonerPrediction prediction(&t.obj);
    KvTonerPrediction::TonerInfoArray toner;
    EXPECT_EQ(prediction.bidiQueryTonerInfo(toner), 0);
    supplies(out, "toner", toner);
    for (auto [id, alert] : held(t.profile, "toner")) {
        EXPECT_EQ(prediction.GetTonerAlertData(id, toner), 0);
        supplies(out, "toner alert " + std::to_string(id), toner);
    }
    unsigned short fontCount = 0;
    _FONTDETAILS* fonts = nullptr;
    EXPECT_EQ(t.obj.bidiGetFontDetails(0, 0, &fontCount, &fonts), 0);
    std::unique_ptr<_FONTDETAILS[]> ownedFonts(fonts);
    for (const auto& f : std::vector(fonts, fonts + fontCount))   // the valid-field flags are the font suite's
        out << "font '" << f.strName << "' " << +f.byTechnology << " " << +f.byFontTag << " " << +f.usPosition << " "
            << +f.usSymbolSet << " " << +f.bySpacing << " " << +f.lStyle << " " << +f.lWeight << " " << +f.lTypeface
            << " " << +f.lResolution << " " << kvtest::toHex(f.abCharComplement, 8) << " " << +f.ulSize << "\n";
    return out.str();
}

const RoundTrip kRoundTrips[] = {
    {"page counts, then the host page count reset", [](Target& t) {
         KVPrtObj::PAGECOUNTDATA c;
         ASSERT_EQ(t.obj.bidiGetPageCounts(&c), 0);
         uint32_t expected[5] = {};
         for (const json& e : t.profile["pageCounts"]) expected[e["type"].get<unsigned>()] = e["count"].get<uint32_t>();
         EXPECT_EQ(std::tuple(c.dwPageCountType1, c.dwPageCountType2, c.dwPageCountType3, c.dwPageCountType4),
                   std::tuple(expected[1], expected[2], 0u, expected[4]));
         ASSERT_EQ(t.profile["hostPageCountType"], 2);
         ASSERT_EQ(t.obj.bidiResetHostPageCount(), 0);
         ASSERT_EQ(t.obj.bidiGetPageCounts(&c), 0);
         EXPECT_EQ(std::tuple(c.dwPageCountType1, c.dwPageCountType2), std::tuple(expected[1], 0u));
     }},
    {"control commands", [](Target& t) {
         EXPECT_EQ(t.obj.bidiPORPrinter(), 0);
         EXPECT_EQ(t.obj.SendRemoteOffline(), 0);
         EXPECT_EQ(t.obj.SendRemoteOnline(), 0);
     }},
    {"object-model variables, one and several at once", [](Target& t) {
         ByteVec ids;
         for (const json& v : t.profile["variables"]) {
             EXPECT_EQ(readVariable(t, text(v["id"]).c_str()), profileVariable(t, "variables", text(v["id"]).c_str()));
             for (uint8_t b : simtest::varId(v["id"])) ids.push_back(b);
         }
         _MULTIOMVAR* vars = nullptr;
         unsigned short count = 0;
         auto n = static_cast<unsigned short>(ids.size() / 2);
         ASSERT_EQ(t.obj.bidiReadMultiOMVars(ids.data(), n, &vars, &count), 0u);
         std::unique_ptr<_MULTIOMVAR[]> owned(vars);
         ASSERT_EQ(count, n);
         for (unsigned short i = 0; i < count; ++i) {
             const json& v = t.profile["variables"][i];
             EXPECT_EQ(bytesOf(&vars[i].id, 2), simtest::varId(v["id"]));
             EXPECT_EQ(bytesOf(vars[i].value, vars[i].length), simtest::valueBytes(v["value"])) << text(v["id"]);
         }
     }},
    {"miscellaneous variables", [](Target& t) {
         for (const json& v : t.profile["miscVariables"]) {
             ByteVec id = simtest::varId(v["id"]);
             void* value = nullptr;
             unsigned long length = 0;
             ASSERT_EQ(t.obj.bidiReadMiscVar(id.data(), &value, &length, 0), 0) << text(v["id"]);
             EXPECT_EQ(kvtest::take(value, length), simtest::valueBytes(v["value"])) << text(v["id"]);
         }
     }},
    {"property tag: set, it reads back and raises a variable event", [](Target& t) {
         KVPrtObj::PROPERTYTAG tag;
         tag.strTag = "stale";
         ASSERT_EQ(t.obj.bidiGetPropertyTag(&tag), 0);
         EXPECT_EQ(tag.strTag, "");   // the tag is not read from the printer
         ASSERT_EQ(t.obj.bidiSetPropertyTag("TAG-7"), 0);
         EXPECT_EQ(readVariable(t, "07 54"), kvtest::Bytes().raw(kvtest::hex("07 54")).text("TAG-7").vec());
         KVPrtObj::OMVAREVENTDATA event;
         ASSERT_EQ(t.obj.bidiQueryOMVarEventAlert(nextAlert(t, 0x5FE), &event), 0);
         EXPECT_EQ(event.byEventType, 9);
         EXPECT_EQ(bytesOf(event.abyVarId, 2), kvtest::hex("07 54"));
         EXPECT_EQ(kvtest::take(event.pbyData, 5), kvtest::Bytes().text("TAG-7").vec());
     }},
    {"non-volatile memory reset restores the variables", [](Target& t) {
         uint8_t copies[2] = {0, 9};
         ASSERT_EQ(t.obj.bidiSetOMVar(kvtest::hex("01 01").data(), copies, 2), 0);
         ASSERT_EQ(t.obj.bidiResetNVRAM(), 0);
         EXPECT_EQ(readVariable(t, "01 01"), profileVariable(t, "variables", "01 01"));
     }},

    // ---- device characteristics ----
    {"current font: a set reads back", [](Target& t) {
         _FONTDETAILS font;
         ASSERT_EQ(t.obj.bidiGetCurrentFontInformation(&font), 0);
         // The last font of the list becomes the current one.
         const json& last = t.profile["fonts"]["list"].back();
         font.byFontTag = static_cast<uint8_t>(num(last, "tag"));
         font.usPosition = static_cast<uint16_t>(num(last, "position"));
         font.usSymbolSet = static_cast<uint16_t>(num(last, "symbolSet"));
         font.ulSize = 14;
         unsigned char status = 0xEE;
         ASSERT_EQ(t.obj.bidiSetCurrentFontInformation(&font, &status), 0);
         EXPECT_EQ(status, num(t.profile, "setFontStatus"));
         _FONTDETAILS back;
         ASSERT_EQ(t.obj.bidiGetCurrentFontInformation(&back), 0);
         EXPECT_EQ(std::tuple(back.byFontTag, back.usPosition, back.usSymbolSet, back.ulSize),
                   std::tuple(font.byFontTag, font.usPosition, font.usSymbolSet, font.ulSize));
     }},

    // ---- configuration and jobs ----
    {"available ports and loop-back, sent even while bidi is marked inactive", [](Target& t) {
         t.obj.setBidi(0);
         int flags[32];
         std::fill(std::begin(flags), std::end(flags), 7);
         ASSERT_EQ(t.obj.bidiGetAvailablePorts(static_cast<int>(std::size(flags)), flags), 0);
         int expected[32] = {};
         for (const json& p : t.profile["ports"]) expected[simtest::number(p)] = 1;
         EXPECT_TRUE(std::equal(std::begin(flags), std::end(flags), std::begin(expected)));
         t.obj.setBidi(0);
         EXPECT_EQ(t.obj.bidiLoopBack(), 0);
         EXPECT_EQ(t.obj.isBidiActive(), 1);
     }},
    {"form names and output bin nicknames: read, and a write reads back", [](Target& t) {
         names(t, &KVPrtObj::bidiGetFormNames, &KVPrtObj::bidiSetFormName, t.profile["formNames"]);
         names(t, &KVPrtObj::bidiGetOutputBinNicknames, &KVPrtObj::bidiSetOutputBinNickname, t.profile["binNicknames"]);
     }},
    {"job delete: the job is gone and its end announced", [](Target& t) {
         const auto number = static_cast<unsigned short>(num(t.profile["jobs"][0], "number"));
         const std::vector<KVPrtObj::KVPJOBDATA> job = queryJobs(t, number);
         ASSERT_EQ(job.size(), 1u);
         ASSERT_EQ(t.obj.bidiDeleteJob(number, 0), 0);
         EXPECT_TRUE(queryJobs(t, number).empty());
         EXPECT_EQ(queryJobs(t, 0).size(), t.profile["jobs"].size() - 1);
         KVPrtObj::KVPJOBDATA gone;
         ASSERT_EQ(t.obj.bidiQueryJobTranAlert(nextAlert(t, 0x5FD), &gone), 0);
         EXPECT_EQ(jobText(gone, false), jobText(job[0], false));
     }},
    {"job priority change reads back", [](Target& t) {
         const auto number = static_cast<unsigned short>(num(t.profile["jobs"].back(), "number"));
         unsigned char answer = 0xEE;
         ASSERT_EQ(t.obj.bidiChangeJobPriority(9, number, &answer), 0);
         EXPECT_EQ(answer, 0);   // changed
         std::vector<KVPrtObj::KVPJOBDATA> jobs = queryJobs(t, number);
         ASSERT_EQ(jobs.size(), 1u);
         EXPECT_EQ(jobs[0].jobByte4, 9);
     }},

    // ---- values derived through tables, device status ----
    {"derived values", [](Target& t) { EXPECT_EQ(derived(t), kvtest::readText(KVPO_DERIVED_GOLDEN)); }},

    {"panel text and lock; a lock set reads back and shows the locked text", [](Target& t) {
         const json& panel = t.profile["panel"];
         KVPrtObj::OPPANELDATA shown = panelShown(t);
         EXPECT_EQ(std::tuple(shown.nPanelWidth, shown.nPanelHeight),
                   std::tuple(panel["width"].get<int>(), panel["height"].get<int>()));
         EXPECT_EQ(shown.strPanelText, display(panel, panel["text"]));
         EXPECT_EQ(lockRead(t), profileVariable(t, "variables", "00 4D").at(2) != 0 ? 1 : 0);
         ASSERT_EQ(t.obj.bidiROPSetLock(1), 0);
         EXPECT_EQ(lockRead(t), 1);
         EXPECT_EQ(panelShown(t).strPanelText, display(panel, panel["lockedText"]));
         ASSERT_EQ(t.obj.bidiROPSetLock(0), 0);
         EXPECT_EQ(lockRead(t), 0);
         EXPECT_EQ(panelShown(t).strPanelText, display(panel, panel["text"]));
     }},
    {"panel buttons show their text; reset shows the first text again", [](Target& t) {
         const json& panel = t.profile["panel"];
         for (const json& button : panel["buttons"]) {
             if (!button.contains("text")) continue;
             ASSERT_EQ(t.obj.bidiROPPushButton(num(button, "code")), 0);
             EXPECT_EQ(panelShown(t).strPanelText, display(panel, button["text"])) << text(button["name"]);
             if (button["text"] == panel["text"]) continue;
             ASSERT_EQ(t.obj.bidiROPReset(), 0);
             EXPECT_EQ(panelShown(t).strPanelText, display(panel, panel["text"])) << text(button["name"]);
         }
     }},
    {"panel continue clears the operator interventions", [](Target& t) {
         ASSERT_FALSE(t.profile["alertRecords"]["operatorIntervention"].empty());
         ASSERT_EQ(t.obj.bidiROPContinue(), 0);
         unsigned int count = 1;
         KVPrtObj::KVPALERTDATA* list = nullptr;
         ASSERT_EQ(t.obj.bidiQueryOperatorIV(&count, &list), 0);
         EXPECT_EQ(kvtest::takeList(list, count), kvtest::Alerts{});
     }},

    // ---- alerts held by the printer ----
    {"operator-panel alerts", [](Target& t) {
         for (auto [id, alert] : held(t.profile, "operatorPanel")) {
             void* panel = nullptr;
             ASSERT_EQ(t.obj.bidiROPQueryAlert(id, &panel), 0);
             std::unique_ptr<KVPrtObj::OPPANELDATA> owned(static_cast<KVPrtObj::OPPANELDATA*>(panel));
             EXPECT_EQ(owned->strPanelText, display(t.profile["panel"], (*alert)["text"]));
         }
     }},
    {"variable-event alerts", [](Target& t) {
         for (auto [id, alert] : held(t.profile, "variableEvent")) {
             const json& a = *alert;
             KVPrtObj::OMVAREVENTDATA event;
             ASSERT_EQ(t.obj.bidiQueryOMVarEventAlert(id, &event), 0);
             if (a.contains("byte")) {
                 EXPECT_EQ(std::tuple(event.byEventType, uint32_t{event.byValue}), std::tuple(uint8_t{12}, num(a, "byte")));
                 continue;
             }
             EXPECT_EQ(event.byEventType, 9);
             EXPECT_EQ(bytesOf(event.abyVarId, 2), simtest::varId(a["id"]));
             ByteVec value = simtest::valueBytes(a["value"]);
             EXPECT_EQ(kvtest::take(event.pbyData, value.size()), value);
         }
     }},
    {"toner page-count reset restarts the prediction", [](Target& t) {
         KvTonerPrediction prediction(&t.obj);
         ASSERT_EQ(prediction.bidiResetPageCount(), 0);
         const uint32_t pages = num(t.profile["toner"]["supplies"][0], "pageCount");
         EXPECT_EQ(readVariable(t, "07 77"), kvtest::Bytes().raw(kvtest::hex("07 77")).be32(pages).vec());
         KvTonerPrediction::TonerInfoArray info;
         ASSERT_EQ(prediction.bidiQueryTonerInfo(info), 0);
         ASSERT_GT(info.numSupplies(), 0u);
         EXPECT_EQ(info[0]->ulBasePageCount, pages);
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
        m_obj = std::make_unique<kvtest::OpenPrtObj>(m_handle, 1);
    }
    void TearDown() override {
        m_obj.reset();
        if (m_handle) BceClosePrinter(m_handle);
    }

    static std::unique_ptr<kvtest::SimDaemon> s_daemon;
    unsigned short m_handle = 0;
    std::unique_ptr<kvtest::OpenPrtObj> m_obj;
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

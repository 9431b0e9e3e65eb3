// Round trip through the whole stack: what the library decodes from the
// simulated printer with the built-in profile, and what it reads back after
// each change, written one line per record and compared whole with the row's
// section of roundtrip.golden. Every row runs in process (sim:) and over TCP
// against kvprtsimd, each on a fresh printer.
#include <gtest/gtest.h>

#include <cctype>
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

// The ids the printer holds the profile's alerts under, by family (1, 2, ... in profile order).
constexpr unsigned short kDeviceStatusAlert = 1, kJobStatusAlert = 2, kPanelAlert = 3, kJobTransitionAlert = 4,
                         kTagEventAlert = 5, kByteEventAlert = 6, kTonerAlert = 7;

struct Target {
    kvtest::OpenPrtObj& obj;
    unsigned short handle;
    std::ostream& out;
};

ByteVec bytesOf(const void* data, unsigned long length) {
    auto* p = static_cast<const uint8_t*>(data);
    return ByteVec(p, p + length);
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
    KVPrtObj::OMVAREVENTDATA event;
    EXPECT_EQ(t.obj.bidiQueryOMVarEventAlert(id, &event), 0);
    t.out << "variable-event alert " << id << ": " << +event.byEventType << " " << +event.byValue << " "
          << kvtest::toHex(event.abyVarId, 2) << " [" << kvtest::toHex(kvtest::take(event.pbyData, length)) << "]\n";
}

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

void printJobs(Target& t, unsigned short number) {
    for (const auto& j : queryJobs(t, number)) t.out << "job " << jobText(j, true) << "\n";
}

// Custom names read, then the first renamed and read again.
using NameRead = long (KVPrtObj::*)(_CUSTOMNAME**, unsigned short*);
using NameWrite = long (KVPrtObj::*)(unsigned short, const CString&);

void names(Target& t, const char* what, NameRead read, NameWrite write) {
    for (int round = 0; round < 2; ++round) {
        _CUSTOMNAME* names = nullptr;
        unsigned short n = 0;
        EXPECT_EQ((t.obj.*read)(&names, &n), 0);
        std::unique_ptr<_CUSTOMNAME[]> owned(names);
        for (unsigned short i = 0; i < n; ++i) t.out << what << " " << names[i].usNumber << " '" << names[i].strName << "'\n";
        if (round == 0 && n > 0) t.out << "rename " << (t.obj.*write)(names[0].usNumber, "Renamed " + names[0].strName) << "\n";
    }
}

void panel(Target& t, const char* when) {
    void* data = nullptr;
    int locked = -1;
    EXPECT_EQ(t.obj.bidiROPQueryData(&data), 0);
    EXPECT_EQ(t.obj.bidiROPQueryLock(&locked), 0);
    std::unique_ptr<KVPrtObj::OPPANELDATA> shown(static_cast<KVPrtObj::OPPANELDATA*>(data));
    ASSERT_TRUE(shown);
    t.out << when << ": " << shown->nPanelWidth << "x" << shown->nPanelHeight << " lock " << locked << " '"
          << shown->strPanelText << "'\n";
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

// Everything the printer holds before a change: its identity, address,
// capabilities, type, characteristics, interpreters, current font, symbol
// sets, alerts, bins, status bits, storage, code levels, jobs, alerts held,
// supplies, fonts and variables, as the library decodes them.
void derived(Target& t) {
    std::ostream& out = t.out;
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
    for (unsigned short id : {kDeviceStatusAlert}) {
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
    const unsigned short last = 14;   // the last job of the profile
    for (const auto& j : queryJobs(t, last)) out << "job " << last << " alone: " << jobText(j, true) << "\n";
    for (unsigned short id : {kJobTransitionAlert}) {
        KVPrtObj::KVPJOBDATA job;
        EXPECT_EQ(t.obj.bidiQueryJobTranAlert(id, &job), 0);
        out << "job-transition alert " << id << ": " << jobText(job, false) << "\n";
    }
    for (unsigned short id : {kJobStatusAlert}) {
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
    for (unsigned short id : {kTonerAlert}) {
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
    for (const json& v : simtest::defaultProfile()["variables"])
        out << "variable " << kvtest::toHex(readVariable(t, simtest::varId(v["id"]))) << "\n";
    ByteVec ids;
    for (const json& v : simtest::defaultProfile()["variables"])
        for (uint8_t b : simtest::varId(v["id"])) ids.push_back(b);
    _MULTIOMVAR* vars = nullptr;
    unsigned short count = 0;
    EXPECT_EQ(t.obj.bidiReadMultiOMVars(ids.data(), static_cast<unsigned short>(ids.size() / 2), &vars, &count), 0u);
    std::unique_ptr<_MULTIOMVAR[]> ownedVars(vars);
    for (unsigned short i = 0; i < count; ++i)
        out << "variable of several " << kvtest::toHex(bytesOf(&vars[i].id, 2)) << ": "
            << kvtest::toHex(bytesOf(vars[i].value, vars[i].length)) << "\n";
    for (const json& v : simtest::defaultProfile()["miscVariables"]) {
        void* value = nullptr;
        unsigned long length = 0;
        EXPECT_EQ(t.obj.bidiReadMiscVar(simtest::varId(v["id"]).data(), &value, &length, 0), 0);
        out << "miscellaneous variable " << v["id"].get<std::string>() << ": " << kvtest::toHex(kvtest::take(value, length))
            << "\n";
    }
    void* panel = nullptr;
    EXPECT_EQ(t.obj.bidiROPQueryAlert(kPanelAlert, &panel), 0);
    std::unique_ptr<KVPrtObj::OPPANELDATA> ownedPanel(static_cast<KVPrtObj::OPPANELDATA*>(panel));
    out << "operator-panel alert: '" << (ownedPanel ? ownedPanel->strPanelText : "") << "'\n";
    variableEvent(t, kTagEventAlert, 10);   // the profile's tag, ASSET-0042
    variableEvent(t, kByteEventAlert, 0);
}

struct RoundTrip {
    const char* name;
    void (*run)(Target&);
};

const RoundTrip kRoundTrips[] = {
    {"derived values", derived},
    {"page counts, then the host page count reset", [](Target& t) {
         for (int round = 0; round < 2; ++round) {
             KVPrtObj::PAGECOUNTDATA c;
             EXPECT_EQ(t.obj.bidiGetPageCounts(&c), 0);
             t.out << "page counts " << c.dwPageCountType1 << " " << c.dwPageCountType2 << " " << c.dwPageCountType3
                   << " " << c.dwPageCountType4 << "\n";
             if (round == 0) t.out << "reset " << t.obj.bidiResetHostPageCount() << "\n";
         }
     }},
    {"control commands", [](Target& t) {
         t.out << t.obj.bidiPORPrinter() << " " << t.obj.SendRemoteOffline() << " " << t.obj.SendRemoteOnline() << "\n";
     }},
    {"property tag: set, it reads back and raises a variable event", [](Target& t) {
         KVPrtObj::PROPERTYTAG tag;
         tag.strTag = "stale";
         t.out << "get " << t.obj.bidiGetPropertyTag(&tag) << " '" << tag.strTag << "'\n";   // not read from the printer
         t.out << "set " << t.obj.bidiSetPropertyTag("TAG-7") << " " << kvtest::toHex(readVariable(t, {0x07, 0x54})) << "\n";
         variableEvent(t, nextAlert(t, 0x5FE), 5);
     }},
    {"non-volatile memory reset restores the variables", [](Target& t) {
         uint8_t copies[2] = {0, 9};
         t.out << t.obj.bidiSetOMVar(kvtest::hex("01 01").data(), copies, 2) << " " << t.obj.bidiResetNVRAM() << " "
               << kvtest::toHex(readVariable(t, {0x01, 0x01})) << "\n";
     }},
    {"current font: the last of the list set reads back", [](Target& t) {
         _FONTDETAILS font;
         EXPECT_EQ(t.obj.bidiGetCurrentFontInformation(&font), 0);
         std::tie(font.byFontTag, font.usPosition, font.usSymbolSet, font.ulSize) = std::tuple(2, 3, 14, 14);
         unsigned char status = 0xEE;
         t.out << "set " << t.obj.bidiSetCurrentFontInformation(&font, &status) << " status " << +status << "\n";
         _FONTDETAILS back;
         EXPECT_EQ(t.obj.bidiGetCurrentFontInformation(&back), 0);
         t.out << +back.byFontTag << " " << back.usPosition << " " << back.usSymbolSet << " " << back.ulSize << "\n";
     }},
    {"available ports and loop-back, sent even while bidi is marked inactive", [](Target& t) {
         t.obj.setBidi(0);
         int flags[32];
         std::fill(std::begin(flags), std::end(flags), 7);
         t.out << "ports " << t.obj.bidiGetAvailablePorts(static_cast<int>(std::size(flags)), flags) << ": ";
         for (int f : flags) t.out << f;
         t.obj.setBidi(0);
         t.out << "\nloop-back " << t.obj.bidiLoopBack() << " active " << t.obj.isBidiActive() << "\n";
     }},
    {"form names and output bin nicknames: read, and a write reads back", [](Target& t) {
         names(t, "form", &KVPrtObj::bidiGetFormNames, &KVPrtObj::bidiSetFormName);
         names(t, "bin", &KVPrtObj::bidiGetOutputBinNicknames, &KVPrtObj::bidiSetOutputBinNickname);
     }},
    {"job delete: the job is gone and its end announced", [](Target& t) {
         t.out << "delete " << t.obj.bidiDeleteJob(12, 0) << "\n";
         printJobs(t, 12);
         printJobs(t, 0);
         KVPrtObj::KVPJOBDATA gone;
         EXPECT_EQ(t.obj.bidiQueryJobTranAlert(nextAlert(t, 0x5FD), &gone), 0);
         t.out << "gone " << jobText(gone, false) << "\n";
     }},
    {"job priority change reads back", [](Target& t) {
         unsigned char answer = 0xEE;
         t.out << "change " << t.obj.bidiChangeJobPriority(9, 14, &answer) << " answer " << +answer << "\n";
         printJobs(t, 14);
     }},
    {"panel text and lock; a lock set reads back and shows the locked text", [](Target& t) {
         panel(t, "first");
         for (int lock : {1, 0}) {
             t.out << "lock " << t.obj.bidiROPSetLock(lock) << "\n";
             panel(t, "then");
         }
     }},
    {"panel buttons show their text; reset shows the first text again", [](Target& t) {
         for (unsigned long button = 1; button <= 5; ++button) {   // Menu, Select, Return, Stop, Go
             t.out << "button " << button << " " << t.obj.bidiROPPushButton(button) << "\n";
             panel(t, "shown");
             t.out << "reset " << t.obj.bidiROPReset() << "\n";
             panel(t, "shown");
         }
     }},
    {"panel continue clears the operator interventions", [](Target& t) {
         t.out << "continue " << t.obj.bidiROPContinue() << ":";
         unsigned int count = 1;
         KVPrtObj::KVPALERTDATA* list = nullptr;
         EXPECT_EQ(t.obj.bidiQueryOperatorIV(&count, &list), 0);
         for (const kvtest::Alert& a : kvtest::takeList(list, count)) t.out << " " << a;
         t.out << "\n";
     }},
    {"toner page-count reset restarts the prediction", [](Target& t) {
         KvTonerPrediction prediction(&t.obj);
         t.out << "reset " << prediction.bidiResetPageCount() << " " << kvtest::toHex(readVariable(t, {0x07, 0x77})) << "\n";
         KvTonerPrediction::TonerInfoArray info;
         EXPECT_EQ(prediction.bidiQueryTonerInfo(info), 0);
         supplies(t.out, "toner", info);
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

enum class Transport { InProcess, Tcp };

class RoundTripTest : public testing::TestWithParam<std::tuple<Transport, size_t>> {
public:
    static void SetUpTestSuite() {
        s_daemon = std::make_unique<kvtest::SimDaemon>(
            KVPRTSIMD, std::vector<std::string>{"--copies", std::to_string(std::size(kRoundTrips))});
    }
    static void TearDownTestSuite() { s_daemon.reset(); }

protected:
    static std::unique_ptr<kvtest::SimDaemon> s_daemon;
};

std::unique_ptr<kvtest::SimDaemon> RoundTripTest::s_daemon;

TEST_P(RoundTripTest, LibraryDecodesWhatTheProfileSays) {
    auto [transport, row] = GetParam();
    std::string uri = transport == Transport::InProcess ? "sim:" : s_daemon->uri(std::to_string(row));
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

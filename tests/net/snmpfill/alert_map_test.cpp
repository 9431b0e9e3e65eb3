// The alert mapping whole (alert_map.golden): every row of alert_table.cpp
// with sample alert rows, every bit of hrPrinterDetectedErrorState and the
// supply records synthesized from levels, each record put through the
// simulator's encoder and the real library decoder, with kvprt's text.
#include <gtest/gtest.h>

#include <map>
#include <set>
#include <sstream>

#include "alert_list.h"
#include "encoders.h"
#include "golden.h"
#include "scripted_printer.h"
#include "snmp/alert_table.h"
#include "snmp/oids.h"
#include "texts.h"

namespace {

namespace am = kvnet::snmp::alertmap;
namespace oid = kvnet::snmp::oid;

std::string groupName(int64_t group) {
    static const std::map<int64_t, const char*> kNames = {
        {oid::groupOther, "other"}, {oid::hostResourcesMIBStorageTable, "hrStorage"},
        {oid::generalPrinter, "generalPrinter"}, {oid::cover, "cover"}, {oid::input, "input"},
        {oid::output, "output"}, {oid::marker, "marker"}, {oid::markerSupplies, "markerSupplies"},
        {oid::markerColorant, "markerColorant"}, {oid::mediaPath, "mediaPath"}, {oid::finDevice, "finDevice"},
        {oid::finSupply, "finSupply"}, {oid::finSupplyMediaInput, "finSupplyMediaInput"},
        {oid::finAttribute, "finAttribute"}};
    auto it = kNames.find(group);
    return std::to_string(group) + "(" + (it == kNames.end() ? "?" : it->second) + ")";
}

std::string severityName(int64_t severity) {
    switch (severity) {
    case oid::critical: return "critical";
    case oid::warning: return "warning";
    case oid::warningBinaryChangeEvent: return "event";
    default: return std::to_string(severity);
    }
}

// What the library's list form of request `code` makes of the reply `body`:
// "6242/0 Paper jam at the manual paper feed" per entry.
std::vector<std::string> decodeAlertList(uint16_t code, const kvsim::Bytes& body) {
    using List = long (KVPrtObj::*)(unsigned int*, KVPrtObj::KVPALERTDATA**);
    const std::map<uint16_t, List> kLists = {
        {kvbidi::kPaperJams, &KVPrtObj::bidiQueryPaperJams},     {kvbidi::kOperatorIV, &KVPrtObj::bidiQueryOperatorIV},
        {kvbidi::kWarnings, &KVPrtObj::bidiQueryWarnings},       {kvbidi::kServiceReq, &KVPrtObj::bidiQueryServiceReq},
        {kvbidi::kConfigChg, &KVPrtObj::bidiQueryConfigChg},     {kvbidi::kSupplies, &KVPrtObj::bidiQuerySupplies}};
    kvtest::PrinterRig rig;
    rig.printer.answer(code, kvtest::ByteVec(body.begin(), body.end()));
    unsigned count = 0;
    KVPrtObj::KVPALERTDATA* list = nullptr;
    long rc = (rig.obj.*kLists.at(code))(&count, &list);
    std::vector<std::string> out;
    if (rc != 0) out.push_back("rc " + std::to_string(rc));
    for (const kvtest::Alert& a : kvtest::takeList(list, count))
        out.push_back(std::to_string(a.id) + "/" + std::to_string(a.value) + " " + kvprt::alertText(a.id, a.value));
    return out;
}

std::string records(const std::vector<am::Record>& rs) {
    if (rs.empty()) return "(dropped)";
    std::string out;
    for (const am::Record& r : rs) {
        kvsim::Profile p;
        p.alertRuns[r.run].push_back({r.category, r.instance, r.condition, {}});
        auto reply = kvsim::encodeRead(p, {r.run, nullptr, 0});
        char key[32];
        std::snprintf(key, sizeof key, "0x%02X %02X %02X %02X", r.run, r.category, r.instance, r.condition);
        std::vector<std::string> entries = decodeAlertList(r.run, reply->body);
        out += std::string(out.empty() ? "" : " | ") + key + " -> ";
        if (entries.empty()) out += "(nothing)";
        for (size_t i = 0; i < entries.size(); ++i) out += (i ? "; " : "") + entries[i];
    }
    return out;
}

int64_t sampleSeverity(am::Severity s) {
    switch (s) {
    case am::Severity::Critical: case am::Severity::Current: return oid::critical;
    case am::Severity::Event: return oid::warningBinaryChangeEvent;
    default: return oid::warning;
    }
}

// The subject a device's tables give a row of `group` when the rule does not name one.
am::Subject naturalSubject(int64_t group) {
    switch (group) {
    case oid::input: return am::Subject::Input;
    case oid::output: return am::Subject::Output;
    case oid::markerSupplies: return am::Subject::OtherSupply;
    case oid::mediaPath: return am::Subject::OtherPath;
    case oid::hostResourcesMIBStorageTable: return am::Subject::OtherStorage;
    case oid::finDevice: case oid::finSupply: case oid::finSupplyMediaInput: case oid::finAttribute:
        return am::Subject::Finisher;
    default: return am::Subject::None;
    }
}

// Items that show each shape of a rule: the first it takes, the first above
// it, and none.
std::set<int> sampleItems(const am::AlertRule& rule) {
    std::set<int> items{-1};
    for (const am::Target* t : {&rule.main, &rule.supplies})
        for (const am::Shape* s : {&t->first, &t->second})
            if (s->how == am::Shape::Instance::Item) {
                items.insert(s->lo);
                if (s->hi < 255) items.insert(s->hi + 1);
            }
    return items;
}

TEST(AlertMapTest, EveryRowThroughTheLibrary) {
    std::ostringstream out;
    out << "== prtAlertTable rows: severity code group subject item [row] => run record -> id/value text\n";
    for (const am::AlertRule& rule : am::alertRules()) {
        bool reached = false;
        std::vector<int64_t> codes(rule.codes.item, rule.codes.item + rule.codes.size);
        if (codes.empty()) codes.push_back(oid::code::other);
        std::vector<int64_t> groups(rule.groups.item, rule.groups.item + rule.groups.size);
        if (groups.empty()) groups.push_back(oid::groupOther);
        for (int64_t code : codes)
            for (int64_t group : groups) {
                std::vector<am::Subject> subjects;
                for (uint8_t i = 0; i < rule.subjects.size; ++i)
                    subjects.push_back(static_cast<am::Subject>(rule.subjects.item[i]));
                if (subjects.empty()) subjects.push_back(naturalSubject(group));
                for (am::Subject subject : subjects)
                    for (int item : sampleItems(rule)) {
                        int64_t training = rule.fieldService ? int64_t{oid::fieldService} : int64_t{4};
                        am::AlertEvent e{sampleSeverity(rule.severity), training, group, code, subject, item};
                        const am::AlertRule* matched = nullptr;
                        std::vector<am::Record> rs = am::mapAlert(e, &matched);
                        reached = reached || matched == &rule;
                        const char* name = am::alertCodeName(code);
                        out << severityName(e.severity) << (rule.fieldService ? " field-service" : "") << " "
                            << (name ? name : "?") << "(" << code << ") " << groupName(group) << " "
                            << am::subjectName(subject) << " " << item << " [" << (matched ? matched->name : "-")
                            << "] => " << records(rs) << "\n";
                    }
            }
        EXPECT_TRUE(reached) << "no sample reaches the row \"" << rule.name << "\": an earlier row hides it";
    }

    out << "== hrPrinterDetectedErrorState bits (bit 0 = MSB of the first octet) => records\n";
    for (const am::ErrorBitRule& rule : am::errorBitRules()) {
        out << "bit " << +rule.bit << " " << rule.name << " => " << records(am::mapErrorBit(rule, {})) << "\n";
        if (rule.items != am::ErrorBitRule::Items::None)
            out << "bit " << +rule.bit << " " << rule.name << " on items 3 4 => "
                << records(am::mapErrorBit(rule, {3, 4})) << "\n";
    }

    out << "== supplies run from levels (devices without an alert table) => records\n";
    for (am::Subject subject :
         {am::Subject::Toner, am::Subject::OtherSupply, am::Subject::Receptacle, am::Subject::Staples})
        for (int index : {2, 5})
            for (auto state : {am::SupplyState::Low, am::SupplyState::Empty})
                out << am::subjectName(subject) << " " << index << (state == am::SupplyState::Low ? " low" : " empty")
                    << " => " << records(am::supplyRecords(subject, index, state)) << "\n";

    kvtest::expectGoldenFile(std::string(KVNET_SNMPFILL_DIR) + "/alert_map.golden", out.str());
}

}  // namespace

#include "snapshot_text.h"

#include <regex>
#include <sstream>

#include "alert_list.h"
#include "bytes.h"
#include "scripted_printer.h"
#include "text.h"

namespace kvtest {
namespace {

using kvnet::ipp::AttributeValue;

std::vector<std::string> split(const std::string& text, const std::string& separator) {
    std::vector<std::string> parts;
    for (size_t start = 0;;) {
        size_t end = text.find(separator, start);
        parts.push_back(text.substr(start, end - start));
        if (end == text.npos) return parts;
        start = end + separator.size();
    }
}

AttributeValue valueOf(const std::string& text) {
    static const std::regex integer("-?[0-9]+"), resolution("([0-9]+)(x([0-9]+))?(dpi|dpcm)");
    AttributeValue v;
    std::smatch m;
    if (text == "true" || text == "false") {
        v.kind = AttributeValue::Kind::Boolean, v.number = text == "true";
    } else if (std::regex_match(text, integer)) {
        v.kind = AttributeValue::Kind::Integer, v.number = std::stoi(text);
    } else if (std::regex_match(text, m, resolution)) {
        v.kind = AttributeValue::Kind::Resolution, v.number = std::stoi(m[1]);
        v.upper = m[3].matched ? std::stoi(m[3]) : v.number;
        v.text = m[4];
    } else {
        v.kind = AttributeValue::Kind::Keyword, v.text = text;
    }
    return v;
}

// The library's alert kinds by request code: 6 -> 3 ... 11 -> 8.
constexpr unsigned kKindOffset = 3;
const std::pair<uint16_t, const char*> kRuns[] = {{6, "jams"},    {7, "op"},     {8, "warn"},
                                                   {9, "service"}, {10, "config"}, {11, "supplies"}};

struct Decoder : OpenPrtObj {
    using KVPrtObj::parseAlertData;
};

// "01 03 01=6240/3": the record and what the library makes of it.
std::string recordText(const kvsim::AlertRecord& r, unsigned kind) {
    ByteVec record = {r.category, r.instance, r.condition, 0};
    Decoder decoder;
    KVPrtObj::KVPALERTDATA* list = nullptr;
    unsigned count = 0;
    decoder.parseAlertData(record.data(), 1, kind, &list, &count);
    Alerts alerts = takeList(list, count);
    std::string text = toHex(record.data(), 3);
    return text + (alerts.empty() ? "=none" : "=" + std::to_string(alerts[0].id) + "/" + std::to_string(alerts[0].value));
}

// A text of the replies (ISO 8859-1) quoted, in UTF-8 as the golden files are.
std::string quoted(const std::string& text) { return "'" + kvnet::toUtf8(text, kvnet::kCharsetLatin1) + "'"; }

template <class T, class Write>
void list(std::ostringstream& out, const char* name, const std::vector<T>& items, Write write) {
    if (items.empty()) return;
    out << name << "[";
    for (size_t i = 0; i < items.size(); ++i) {
        if (i) out << ", ";
        write(items[i]);
    }
    out << "] ";
}

}  // namespace

kvnet::ipp::Attributes parseAttributes(const std::string& line) {
    kvnet::ipp::Attributes attributes;
    for (const std::string& item : split(line, " | ")) {
        size_t equals = item.find('=');
        auto& values = attributes[item.substr(0, equals)];
        for (const std::string& v : split(item.substr(equals + 1), ",")) values.push_back(valueOf(v));
    }
    return attributes;
}

std::vector<kvnet::ipp::Attributes> parseJobGroups(const std::string& line) {
    std::vector<kvnet::ipp::Attributes> groups;
    for (const std::string& group : split(line, " || ")) groups.push_back(parseAttributes(group));
    return groups;
}

std::string describeSnapshot(const kvnet::Snapshot& s) {
    const kvsim::Profile& p = s.profile;
    std::ostringstream out;
    if (s.answers(kvbidi::kDeviceStatus)) out << "status " << toHex(p.deviceStatus.data(), 3) << " ";
    for (auto [run, name] : kRuns) {
        auto it = p.alertRuns.find(run);
        if (it == p.alertRuns.end()) continue;
        list(out, name, it->second, [&](const kvsim::AlertRecord& r) { out << recordText(r, run - kKindOffset); });
    }
    list(out, "sstatus", p.suppliesStatus, [&](const kvsim::SupplyStatusRecord& r) {
        ByteVec b = {r.category, r.instance, r.condition, r.value};
        out << toHex(b);
    });
    list(out, "toner", p.toner.supplies, [&](const kvsim::TonerSupply& t) {
        out << int(t.id) << " " << int(t.level) << "/" << int(t.levelCount) << " step " << t.step << " pages "
            << t.pageCount << "/" << t.basePageCount;
    });
    list(out, "in", p.inputStatus, [&](const kvsim::StatusRecord& r) { out << int(r.id) << ":" << toHex(&r.status, 1); });
    list(out, "inbins", p.inputBins, [&](const kvsim::InputBin& b) {
        out << int(b.number) << " cap=" << b.capacity << " type=" << int(b.byte8) << " size=" << int(b.sizeCode) << " "
            << quoted(b.name) << " " << quoted(b.text2);
    });
    list(out, "out", p.outputStatus, [&](const kvsim::StatusRecord& r) { out << int(r.id) << ":" << toHex(&r.status, 1); });
    list(out, "outbins", p.outputBins, [&](const kvsim::OutputBin& b) {
        out << int(b.number) << " b1=" << int(b.byte1) << " cap=" << b.capacity << " b6=" << toHex(&b.byte6, 1) << " "
            << quoted(b.name);
    });
    if (p.info.szModelName[0] != '\0' || p.info.szSerialNumber[0] != '\0')
        out << "info[" << quoted(p.info.szModelName) << " " << quoted(p.info.szSerialNumber) << "] ";
    if (s.answers(kvbidi::kDeviceChars)) {
        const kvsim::DeviceChars& d = p.deviceChars;
        out << "chars[" << quoted(d.text1) << " " << quoted(d.codeLevel) << " " << quoted(d.text3) << " trays=" << int(d.byte2)
            << " duplex=" << int(d.byte7) << "] ";
    }
    for (const kvsim::Variable& v : p.miscVariables) {
        std::string text(v.value.begin(), v.value.end());
        for (char& c : text) c = c == '\n' ? '|' : c;
        out << "A6" << quoted(text) << " ";
    }
    list(out, "pages", p.pageCounts, [&](const kvsim::PageCount& c) { out << int(c.type) << ":" << c.count; });
    out << "answered";
    for (uint16_t code : s.answered) out << " " << toHex(ByteVec{static_cast<uint8_t>(code)});
    if (!s.notes.empty()) {
        out << " notes:";
        for (const std::string& n : s.notes) out << " " << n << ";";
    }
    return out.str();
}

std::string describeJobs(const kvnet::Snapshot& s) {
    std::ostringstream out;
    list(out, "jobs", s.profile.jobs, [&](const kvsim::Job& j) {
        out << j.number << " s=" << int(j.byte0) << " p=" << int(j.priority) << " c=" << j.word5 << " size=" << j.long21
            << " imp=" << j.long25 << "/" << j.long29 << " " << quoted(j.info1) << " " << quoted(j.info2);
    });
    if (!s.notes.empty()) {
        out << "notes:";
        for (const std::string& n : s.notes) out << " " << n << ";";
    }
    std::string text = out.str();
    while (!text.empty() && text.back() == ' ') text.pop_back();
    return text;
}

}  // namespace kvtest

#include "differential.h"

#include <gtest/gtest.h>

#include <sstream>

#include "golden.h"

namespace difftest {
namespace {

constexpr size_t kShownChars = 96;   // of a value in a line
// The heading of the differences no line lists, at the end of the text.
constexpr char kUnlisted[] = "Not listed yet (give each a reason above):";

json failed(long rc) { return {{rc == BCE_E_INVALID ? "unavailable" : "error", rc}}; }

// The bins' bytes kvprt does not show: input byte 8, output bytes 1, 6 and 7.
json binBytes(KVPrtObj& obj, bool input) {
    unsigned int count = 0;
    KVPrtObj::INPUTBIN* in = nullptr;
    KVPrtObj::OUTPUTBIN* out = nullptr;
    const long rc = input ? obj.bidiGetInputChars(&count, &in) : obj.bidiGetOutputChars(&count, &out);
    json bytes = rc != 0 ? failed(rc) : json::array();
    for (unsigned i = 0; rc == 0 && i < count; ++i) {
        if (input) {
            bytes.push_back(in[i].usByte8);
            continue;
        }
        const KVPrtObj::OUTPUTBIN& b = out[i];
        bytes.push_back({{"byte1", b.usByte1},
                         {"byte6", b.ulByte6Bit0 | b.ulByte6Bit1 << 1 | b.ulByte6Bit2 << 2 | b.ulByte6Bit3 << 3 |
                                       b.ulByte6Bit4 << 4 | b.ulByte6Bit5 << 5},
                         {"byte7", b.ulByte7Bit0 | b.ulByte7Bit1 << 1 | b.ulByte7Bit2 << 2 | b.ulByte7Bit7 << 7}});
    }
    delete[] in;
    delete[] out;
    return bytes;
}

// The reads kvprt's report leaves out.
json extraReads(KVPrtObj& obj) {
    json j;
    int flags[256] = {};
    long rc = obj.bidiGetAvailablePorts(256, flags);
    j["ports"] = rc != 0 ? failed(rc) : json::array();
    for (int port = 0; rc == 0 && port < 256; ++port)
        if (flags[port]) j["ports"].push_back(port);
    unsigned short count = 0;
    _FONTDETAILS* fonts = nullptr;
    rc = obj.bidiGetFontDetails(0, 0, &count, &fonts);
    delete[] fonts;
    j["fontCount"] = rc != 0 ? failed(rc) : json(count);
    j["inputByte8"] = binBytes(obj, true);
    j["outputBytes"] = binBytes(obj, false);
    _FONTDETAILS font;
    rc = obj.bidiGetCurrentFontInformation(&font);
    j["currentFont"] = rc != 0 ? failed(rc)
                               : json{{"tag", font.byFontTag}, {"position", font.usPosition},
                                      {"symbolSet", font.usSymbolSet}, {"size", font.ulSize}};
    return j;
}

// The value at "key.key[2].key", or null.
const json* at(const json& root, std::string path) {
    for (char& c : path) c = c == '.' || c == '[' ? '/' : c;
    std::erase(path, ']');
    const json::json_pointer pointer("/" + path);
    return root.contains(pointer) ? &root.at(pointer) : nullptr;
}

// The fields where `a` and `b` differ, as deep as both have the same shape.
void differences(const json* a, const json* b, const std::string& path, std::vector<std::string>* out) {
    if (a && b && *a == *b) return;
    if (a && b && a->is_object() && b->is_object()) {
        json keys = *a;
        keys.update(*b);
        for (const auto& [key, value] : keys.items())
            differences(a->contains(key) ? &(*a)[key] : nullptr, b->contains(key) ? &(*b)[key] : nullptr,
                        path + (path.empty() ? "" : ".") + key, out);
    } else if (a && b && a->is_array() && b->is_array()) {
        for (size_t i = 0; i < std::max(a->size(), b->size()); ++i)
            differences(i < a->size() ? &(*a)[i] : nullptr, i < b->size() ? &(*b)[i] : nullptr,
                        path + "[" + std::to_string(i) + "]", out);
    } else {
        out->push_back(path);
    }
}

std::string shown(const json* v) {
    if (v == nullptr) return "none";
    std::string text = v->dump(-1, ' ', false, json::error_handler_t::replace);
    return text.size() > kShownChars ? text.substr(0, kShownChars - 3) + "..." : text;
}

std::string describe(const json& sim, const json& net, const std::string& field) {
    const json *s = at(sim, field), *n = at(net, field);
    if (s && n && *s == *n) return field + " => the same on both: " + shown(s) + "\n";
    return field + " => sim " + shown(s) + ", net " + shown(n) + "\n";
}

}  // namespace

json libraryView(kvprt::Printer& printer) {
    kvprt::setPartialFailureMessages(false);
    std::vector<const kvprt::Section*> sections = kvprt::reportSections();
    sections.insert(sections.end(), {&kvprt::kFormNamesSection, &kvprt::kSymbolSetsSection});
    json view;
    for (const kvprt::Section* s : sections) {
        try {
            view[s->key] = s->gather(printer).data;
        } catch (const kvprt::Failure& f) {
            view[s->key] = failed(f.code());
        }
    }
    view["printer"].erase("uri");   // how the test opened it
    view["extra"] = extraReads(printer.obj());
    return view;
}

void replaceText(json& view, const std::string& from, const std::string& to) {
    if (view.is_string()) {
        std::string text = view.get<std::string>();
        for (size_t at; (at = text.find(from)) != std::string::npos;) text.replace(at, from.size(), to);
        view = text;
    }
    if (view.is_structured())
        for (auto& [key, value] : view.items()) replaceText(value, from, to);
}

void expectDifferences(const json& sim, const json& net, const std::string& path) {
    std::vector<std::string> found, listed;
    differences(&sim, &net, "", &found);
    std::istringstream golden(kvtest::readText(path));
    std::string text, unlisted;
    for (std::string line; std::getline(golden, line);) {
        const size_t arrow = line.find(" => ");
        if (arrow != std::string::npos) listed.push_back(line.substr(0, arrow));
        if (line != kUnlisted) text += arrow == std::string::npos ? line + "\n" : describe(sim, net, listed.back());
    }
    // A line covers its field and what lies under it.
    auto covered = [&](const std::string& field) {
        return std::any_of(listed.begin(), listed.end(), [&](const std::string& l) {
            return field.rfind(l, 0) == 0 && (field.size() == l.size() || field[l.size()] == '.' || field[l.size()] == '[');
        });
    };
    for (const std::string& field : found)
        if (!covered(field)) unlisted += describe(sim, net, field);
    if (!unlisted.empty()) text += std::string(kUnlisted) + "\n" + unlisted;
    kvtest::expectGoldenFile(path, text);
}

}  // namespace difftest

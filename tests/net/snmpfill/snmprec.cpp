#include "snmprec.h"

#include <algorithm>
#include <charconv>
#include <cstdint>
#include <fstream>

namespace snmpfilltest {
namespace {

using kvnet::snmp::Oid;
using kvnet::snmp::Value;
using Type = Value::Type;

template <typename T>
bool parseNumber(const std::string& text, T* out) {
    auto [end, ec] = std::from_chars(text.data(), text.data() + text.size(), *out);
    return ec == std::errc() && end == text.data() + text.size();
}

bool parseHex(const std::string& text, std::string* out) {
    if (text.size() % 2 != 0) return false;
    out->clear();
    for (size_t i = 0; i < text.size(); i += 2) {
        unsigned byte = 0;
        auto [end, ec] = std::from_chars(text.data() + i, text.data() + i + 2, byte, 16);
        if (ec != std::errc() || end != text.data() + i + 2) return false;
        out->push_back(static_cast<char>(byte));
    }
    return true;
}

bool parseValue(const std::string& tag, const std::string& text, Value* v) {
    if (tag == "4") return v->type = Type::OctetString, v->bytes = text, true;
    if (tag == "4x") return v->type = Type::OctetString, parseHex(text, &v->bytes);
    if (tag == "5") return v->type = Type::Null, true;
    if (tag == "6") return v->type = Type::ObjectId, v->oid = kvnet::snmp::parseOid(text), !v->oid.empty();
    if (tag == "2") return v->type = Type::Integer, parseNumber(text, &v->number);
    if (tag == "64") {
        Oid quad = kvnet::snmp::parseOid(text);
        if (quad.size() != 4) return false;
        v->type = Type::IpAddress;
        for (uint32_t b : quad) v->bytes.push_back(static_cast<char>(b));
        return true;
    }
    const std::pair<const char*, Type> unsignedTags[] = {
        {"65", Type::Counter32}, {"66", Type::Gauge32}, {"67", Type::TimeTicks}, {"70", Type::Counter64}};
    for (auto [name, type] : unsignedTags) {
        if (tag != name) continue;
        uint64_t n = 0;
        if (!parseNumber(text, &n)) return false;
        v->type = type;
        v->number = static_cast<int64_t>(std::min<uint64_t>(n, INT64_MAX));   // as mib.h: cut to 2^63-1
        return true;
    }
    return false;
}

}  // namespace

bool loadSnmprec(const std::string& path, kvnet::snmp::MibView* view, std::string* error) {
    std::ifstream in(path);
    if (!in) return *error = "cannot read " + path, false;
    Oid last;
    int number = 0;
    for (std::string line; std::getline(in, line);) {
        ++number;
        auto fail = [&](const std::string& why) {
            return *error = "line " + std::to_string(number) + ": " + why, false;
        };
        size_t bar1 = line.find('|'), bar2 = bar1 == line.npos ? line.npos : line.find('|', bar1 + 1);
        if (bar2 == line.npos) return fail("not OID|TAG|VALUE");
        Oid oid = kvnet::snmp::parseOid(line.substr(0, bar1));
        if (oid.empty()) return fail("not an OID");
        if (!last.empty() && !(last < oid)) return fail("OID not above the line before it");
        last = oid;
        Value v;
        if (!parseValue(line.substr(bar1 + 1, bar2 - bar1 - 1), line.substr(bar2 + 1), &v))
            return fail("tag and value do not read");
        if (!view->put(oid, std::move(v))) return fail("the view is full");
    }
    return true;
}

}  // namespace snmpfilltest

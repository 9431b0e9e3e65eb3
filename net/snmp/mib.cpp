#include "mib.h"

#include <algorithm>
#include <charconv>

namespace kvnet::snmp {

Oid parseOid(const std::string& dotted) {
    Oid oid;
    const char* p = dotted.data();
    const char* end = p + dotted.size();
    if (p != end && *p == '.') ++p;
    while (p != end) {
        uint32_t n = 0;
        auto [next, ec] = std::from_chars(p, end, n);
        if (ec != std::errc() || oid.size() >= MibView::kMaxOidLength) return {};
        oid.push_back(n);
        p = next;
        if (p == end) break;
        if (*p != '.' || ++p == end) return {};
    }
    return oid;
}

std::string oidText(const Oid& oid) {
    std::string text;
    for (uint32_t n : oid) {
        if (!text.empty()) text += '.';
        text += std::to_string(n);
    }
    return text;
}

bool isUnder(const Oid& oid, const Oid& prefix) {
    return oid.size() > prefix.size() && std::equal(prefix.begin(), prefix.end(), oid.begin());
}

Oid operator+(const Oid& prefix, const Oid& suffix) {
    Oid oid = prefix;
    oid.insert(oid.end(), suffix.begin(), suffix.end());
    return oid;
}

bool MibView::put(const Oid& oid, Value value) {
    using T = Value::Type;
    if (value.type == T::NoSuchObject || value.type == T::NoSuchInstance || value.type == T::EndOfMibView) return true;
    if (oid.empty() || oid.size() > kMaxOidLength || value.oid.size() > kMaxOidLength) return false;
    auto it = m_values.find(oid);
    size_t old = it == m_values.end() ? 0 : it->second.bytes.size();
    if (it == m_values.end() && m_values.size() >= kMaxEntries) return false;
    if (m_bytes - old + value.bytes.size() > kMaxBytes) return false;
    m_bytes = m_bytes - old + value.bytes.size();
    m_values[oid] = std::move(value);
    return true;
}

void MibView::merge(const std::vector<VarBind>& bindings) {
    for (const VarBind& b : bindings) put(b.oid, b.value);
}

void MibView::erase(const Oid& prefix) {
    auto it = m_values.upper_bound(prefix);
    while (it != m_values.end() && isUnder(it->first, prefix)) {
        m_bytes -= it->second.bytes.size();
        it = m_values.erase(it);
    }
}

const Value* MibView::get(const Oid& oid) const {
    auto it = m_values.find(oid);
    return it == m_values.end() ? nullptr : &it->second;
}

std::optional<int64_t> MibView::number(const Oid& oid) const {
    using T = Value::Type;
    const Value* v = get(oid);
    if (v == nullptr) return std::nullopt;
    switch (v->type) {
    case T::Integer: case T::Counter32: case T::Gauge32: case T::TimeTicks: case T::Counter64: return v->number;
    default: return std::nullopt;
    }
}

std::optional<std::string> MibView::bytes(const Oid& oid) const {
    const Value* v = get(oid);
    if (v == nullptr || v->type != Value::Type::OctetString) return std::nullopt;
    return v->bytes;
}

std::vector<Oid> MibView::indexes(const Oid& column) const {
    std::vector<Oid> rows;
    for (auto it = m_values.upper_bound(column); it != m_values.end() && isUnder(it->first, column); ++it)
        rows.emplace_back(it->first.begin() + static_cast<std::ptrdiff_t>(column.size()), it->first.end());
    return rows;
}

}  // namespace kvnet::snmp

#include "convert.h"

#include <net-snmp/library/snmp_impl.h>

#include <cstdlib>
#include <cstring>
#include <limits>

namespace kvnet::snmp {
namespace {

using T = Value::Type;

// Longest community accepted in a datagram (RFC 3584 allows 255 octets).
constexpr size_t kMaxCommunity = 255;

// A binding's number as net-snmp parsed it, or nullopt when it holds none.
std::optional<long> storedLong(const netsnmp_variable_list& v) {
    if (v.val.integer == nullptr || v.val_len < sizeof(long)) return std::nullopt;
    return *v.val.integer;
}

std::string storedBytes(const netsnmp_variable_list& v) {
    if (v.val.string == nullptr) return {};
    return std::string(reinterpret_cast<const char*>(v.val.string), std::min(v.val_len, kMaxValueBytes));
}

// The value of `v`; a value whose storage does not fit its type becomes Null.
Value valueOf(const netsnmp_variable_list& v) {
    Value value;
    switch (v.type) {
    case ASN_INTEGER:
        if (auto n = storedLong(v)) value = {T::Integer, *n};
        break;
    case ASN_COUNTER:
    case ASN_GAUGE:
    case ASN_TIMETICKS:
    case ASN_UINTEGER:   // the obsolete v1 UInteger32 reads as a gauge
        if (auto n = storedLong(v)) {
            const T type = v.type == ASN_COUNTER ? T::Counter32 : v.type == ASN_TIMETICKS ? T::TimeTicks : T::Gauge32;
            value = {type, static_cast<int64_t>(static_cast<unsigned long>(*n) & 0xFFFFFFFFul)};
        }
        break;
    case ASN_COUNTER64:
        if (v.val.counter64 != nullptr && v.val_len >= sizeof(counter64)) {
            const uint64_t n = (static_cast<uint64_t>(v.val.counter64->high & 0xFFFFFFFFul) << 32) |
                               (v.val.counter64->low & 0xFFFFFFFFul);
            constexpr uint64_t kMax = std::numeric_limits<int64_t>::max();
            value = {T::Counter64, static_cast<int64_t>(n > kMax ? kMax : n)};
        }
        break;
    case ASN_OCTET_STR:
    case ASN_BIT_STR:   // SMIv1 BIT STRING: its octets, as BITS are carried
        value.type = T::OctetString;
        value.bytes = storedBytes(v);
        break;
    case ASN_OPAQUE:
        value.type = T::Opaque;
        value.bytes = storedBytes(v);
        break;
    case ASN_IPADDRESS:
        if (v.val_len == 4 && v.val.string != nullptr) {
            value.type = T::IpAddress;
            value.bytes = storedBytes(v);
        }
        break;
    case ASN_OBJECT_ID:
        if (v.val.objid != nullptr) {
            value.oid = fromNetsnmp(v.val.objid, v.val_len / sizeof(oid));
            if (!value.oid.empty()) value.type = T::ObjectId;
        }
        break;
    case SNMP_NOSUCHOBJECT: value.type = T::NoSuchObject; break;
    case SNMP_NOSUCHINSTANCE: value.type = T::NoSuchInstance; break;
    case SNMP_ENDOFMIBVIEW: value.type = T::EndOfMibView; break;
    default: break;   // ASN_NULL, the opaque float and 64-bit extensions, anything unknown
    }
    return value;
}

}  // namespace

Oid fromNetsnmp(const oid* ids, size_t count) {
    if (ids == nullptr || count == 0 || count > MibView::kMaxOidLength) return {};
    Oid result;
    result.reserve(count);
    for (size_t i = 0; i < count; ++i) {
        if (ids[i] > std::numeric_limits<uint32_t>::max()) return {};
        result.push_back(static_cast<uint32_t>(ids[i]));
    }
    return result;
}

std::vector<oid> toNetsnmp(const Oid& id) { return {id.begin(), id.end()}; }

std::optional<VarBind> toVarBind(const netsnmp_variable_list& variable) {
    Oid name = fromNetsnmp(variable.name, variable.name_length);
    if (name.empty()) return std::nullopt;
    return VarBind{std::move(name), valueOf(variable)};
}

std::vector<VarBind> bindingsOf(const netsnmp_pdu& pdu) {
    std::vector<VarBind> bindings;
    for (const netsnmp_variable_list* v = pdu.variables; v != nullptr; v = v->next_variable)
        if (auto binding = toVarBind(*v)) bindings.push_back(std::move(*binding));
    return bindings;
}

bool addNullBinding(netsnmp_pdu* pdu, const Oid& id) {
    if (id.empty() || id.size() > MibView::kMaxOidLength) return false;
    const std::vector<oid> name = toNetsnmp(id);
    return snmp_add_null_var(pdu, name.data(), name.size()) != nullptr;
}

bool addBinding(netsnmp_pdu* pdu, const Oid& id, const Value& value) {
    if (id.empty() || id.size() > MibView::kMaxOidLength) return false;
    const std::vector<oid> name = toNetsnmp(id);
    auto add = [&](u_char type, const void* data, size_t length) {
        return snmp_pdu_add_variable(pdu, name.data(), name.size(), type, data, length) != nullptr;
    };
    auto inRange = [&](int64_t low, int64_t high) { return value.number >= low && value.number <= high; };
    switch (value.type) {
    case T::Integer: {
        if (!inRange(std::numeric_limits<int32_t>::min(), std::numeric_limits<int32_t>::max())) return false;
        const long n = static_cast<long>(value.number);
        return add(ASN_INTEGER, &n, sizeof n);
    }
    case T::Counter32:
    case T::Gauge32:
    case T::TimeTicks: {
        if (!inRange(0, std::numeric_limits<uint32_t>::max())) return false;
        const u_long n = static_cast<u_long>(value.number);
        const u_char type = value.type == T::Counter32 ? ASN_COUNTER : value.type == T::Gauge32 ? ASN_GAUGE : ASN_TIMETICKS;
        return add(type, &n, sizeof n);
    }
    case T::Counter64: {
        if (value.number < 0) return false;
        counter64 n{};
        n.high = static_cast<u_long>(static_cast<uint64_t>(value.number) >> 32);
        n.low = static_cast<u_long>(static_cast<uint64_t>(value.number) & 0xFFFFFFFFu);
        return add(ASN_COUNTER64, &n, sizeof n);
    }
    case T::OctetString:
    case T::Opaque:
        if (value.bytes.size() > kMaxValueBytes) return false;
        return add(value.type == T::Opaque ? ASN_OPAQUE : ASN_OCTET_STR, value.bytes.data(), value.bytes.size());
    case T::IpAddress:
        return value.bytes.size() == 4 && add(ASN_IPADDRESS, value.bytes.data(), 4);
    case T::ObjectId: {
        if (value.oid.size() < 2 || value.oid.size() > MibView::kMaxOidLength) return false;
        const std::vector<oid> target = toNetsnmp(value.oid);
        return add(ASN_OBJECT_ID, target.data(), target.size() * sizeof(oid));
    }
    case T::Null:
        return add(ASN_NULL, nullptr, 0);
    case T::NoSuchObject:
    case T::NoSuchInstance:
    case T::EndOfMibView:
        return false;
    }
    return false;
}

PduPtr parseDatagram(const uint8_t* data, size_t length) {
    if (data == nullptr || length == 0 || length > kMaxDatagram) return nullptr;
    // net-snmp's parsers take writable buffers.
    std::vector<u_char> message(data, data + length);
    u_char community[kMaxCommunity];
    size_t communityLength = sizeof community;
    long version = -1;
    size_t rest = message.size();
    u_char* body = snmp_comstr_parse(message.data(), &rest, community, &communityLength, &version);
    if (body == nullptr || (version != SNMP_VERSION_1 && version != SNMP_VERSION_2c)) return nullptr;
    PduPtr pdu(snmp_pdu_create(0));
    if (!pdu) return nullptr;
    pdu->version = version;
    if (snmp_pdu_parse(pdu.get(), body, &rest) != 0) return nullptr;
    pdu->community = static_cast<u_char*>(std::malloc(communityLength + 1));
    if (pdu->community == nullptr) return nullptr;
    std::memcpy(pdu->community, community, communityLength);
    pdu->community_len = communityLength;
    return pdu;
}

std::string buildDatagram(netsnmp_pdu* pdu) {
    if (pdu == nullptr || (pdu->version != SNMP_VERSION_1 && pdu->version != SNMP_VERSION_2c)) return {};
    netsnmp_session session;
    snmp_sess_init(&session);
    session.version = pdu->version;
    session.community = pdu->community;
    session.community_len = pdu->community_len;
    size_t size = 1500, offset = 0;
    auto* buffer = static_cast<u_char*>(std::malloc(size));
    if (buffer == nullptr) return {};
    std::string datagram;
    // net-snmp encodes backwards (reverse ASN.1 encoding): the message ends the buffer.
    if (snmp_build(&buffer, &size, &offset, &session, pdu) == 0 && offset <= size)
        datagram.assign(reinterpret_cast<const char*>(buffer + size - offset), offset);
    std::free(buffer);
    return datagram;
}

}  // namespace kvnet::snmp

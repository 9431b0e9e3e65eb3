// What an SNMP agent answered, held as plain values: the SNMP client turns
// each variable binding it receives into an Oid and a Value, and the fill
// (fill.h) reads printer state from the view. Nothing here trusts the agent:
// the view is bounded in entries and bytes, and every read names the types it
// accepts.
#pragma once

#include <cstdint>
#include <map>
#include <optional>
#include <string>
#include <vector>

namespace kvnet::snmp {

using Oid = std::vector<uint32_t>;

struct Value {
    enum class Type : uint8_t {
        Integer,
        OctetString,
        ObjectId,
        IpAddress,
        Counter32,
        Gauge32,
        TimeTicks,
        Counter64,
        Opaque,
        Null,
        NoSuchObject,
        NoSuchInstance,
        EndOfMibView,
    };
    Type type = Type::Null;
    int64_t number = 0;   // Integer (signed); Counter32, Gauge32, TimeTicks, Counter64 (unsigned, Counter64 cut to 2^63-1)
    std::string bytes;    // OctetString, Opaque, IpAddress (4 bytes)
    Oid oid;              // ObjectId
};

struct VarBind {
    Oid oid;
    Value value;
};

// "1.3.6.1.2.1.43" -> {1,3,6,1,2,1,43}; empty for anything else.
Oid parseOid(const std::string& dotted);
std::string oidText(const Oid& oid);
// `oid` is `prefix` followed by one sub-identifier or more.
bool isUnder(const Oid& oid, const Oid& prefix);
// `prefix` + `suffix`.
Oid operator+(const Oid& prefix, const Oid& suffix);

class MibView {
public:
    static constexpr size_t kMaxEntries = 20000;
    static constexpr size_t kMaxBytes = 4u << 20;   // of octet strings
    static constexpr size_t kMaxOidLength = 128;

    // Stores a binding; the exception values (noSuch*, endOfMibView) are not
    // stored. False (and nothing stored) when the view is full or the OID too long.
    bool put(const Oid& oid, Value value);
    void merge(const std::vector<VarBind>& bindings);
    // Drops every binding under `prefix` (before a table is walked again).
    void erase(const Oid& prefix);
    size_t size() const { return m_values.size(); }

    const Value* get(const Oid& oid) const;
    // A number of type Integer, Counter32, Gauge32, TimeTicks or Counter64
    // (agents type counters as INTEGER); nullopt for anything else.
    std::optional<int64_t> number(const Oid& oid) const;
    // An octet string's bytes; nullopt for anything else.
    std::optional<std::string> bytes(const Oid& oid) const;
    // The index suffixes of the rows under a table column, in OID order:
    // column 1.3.6.1.2.1.43.8.2.1.2 with rows .1.1 and .1.2 gives {1,1}, {1,2}.
    std::vector<Oid> indexes(const Oid& column) const;

private:
    std::map<Oid, Value> m_values;
    size_t m_bytes = 0;
};

}  // namespace kvnet::snmp

#include "requests.h"

#include <cstring>
#include <deque>
#include <iterator>
#include <set>

#include "kvprtobj/zorbce.h"

namespace kvnet::snmp {
namespace {

const char* const kErrorStatusNames[] = {
    "noError",    "tooBig",      "noSuchName",  "badValue",          "readOnly",
    "genErr",     "noAccess",    "wrongType",   "wrongLength",       "wrongEncoding",
    "wrongValue", "noCreation",  "inconsistentValue", "resourceUnavailable", "commitFailed",
    "undoFailed", "authorizationError", "notWritable", "inconsistentName",
};

const char* exceptionName(Value::Type type) {
    switch (type) {
    case Value::Type::NoSuchObject: return "noSuchObject";
    case Value::Type::NoSuchInstance: return "noSuchInstance";
    case Value::Type::EndOfMibView: return "endOfMibView";
    default: return "";
    }
}

class Get final : public Request {
public:
    explicit Get(std::vector<Oid> oids) {
        std::set<Oid> seen;
        std::vector<Oid> all;
        for (Oid& id : oids)
            if (!id.empty() && id.size() <= MibView::kMaxOidLength && seen.insert(id).second) all.push_back(std::move(id));
        if (!all.empty()) m_parts.push_back(std::move(all));
    }

    PduPtr next() override {
        if (finished()) return nullptr;
        if (m_parts.empty()) {
            finish(0);
            return nullptr;
        }
        PduPtr pdu(snmp_pdu_create(SNMP_MSG_GET));
        for (const Oid& id : m_parts.front())
            if (!pdu || !addNullBinding(pdu.get(), id)) {
                finish(BCE_E_NO_MEMORY, "the request cannot be built");
                return nullptr;
            }
        return pdu;
    }

    void onReply(const Reply& reply) override {
        if (reply.rc != 0) return finish(reply.rc, reply.error);
        std::vector<Oid>& part = m_parts.front();
        if (reply.status == SNMP_ERR_TOOBIG && part.size() > 1) {
            const auto half = part.begin() + static_cast<std::ptrdiff_t>(part.size() / 2);
            std::vector<Oid> second(std::make_move_iterator(half), std::make_move_iterator(part.end()));
            part.erase(half, part.end());
            m_parts.insert(m_parts.begin() + 1, std::move(second));
            return;
        }
        if (reply.status == SNMP_ERR_NOSUCHNAME && reply.index >= 1 && static_cast<size_t>(reply.index) <= part.size()) {
            part.erase(part.begin() + (reply.index - 1));
            if (part.empty()) m_parts.pop_front();
            return;
        }
        if (reply.status != SNMP_ERR_NOERROR) return finish(BCE_E_INVALID, errorStatusName(reply.status));
        // Only what was asked: an agent has no say over which OIDs a GET returns.
        const std::set<Oid> asked(part.begin(), part.end());
        for (const VarBind& binding : reply.bindings)
            if (isPresent(binding.value) && asked.count(binding.oid) != 0) m_result.bindings.push_back(binding);
        m_parts.pop_front();
    }

private:
    std::deque<std::vector<Oid>> m_parts;   // still to ask, one PDU each
};

class Set final : public Request {
public:
    Set(Oid id, Value value, std::string community)
        : m_id(std::move(id)), m_value(std::move(value)), m_community(std::move(community)) {}

    PduPtr next() override {
        if (finished() || m_sent) return nullptr;
        PduPtr pdu(snmp_pdu_create(SNMP_MSG_SET));
        if (!pdu || !addBinding(pdu.get(), m_id, m_value)) {
            finish(BCE_E_INVALID, "the value cannot be sent");
            return nullptr;
        }
        if (!m_community.empty()) {   // net-snmp sends the PDU's community over the session's
            pdu->community = reinterpret_cast<u_char*>(strdup(m_community.c_str()));
            if (pdu->community == nullptr) {
                finish(BCE_E_NO_MEMORY, "the request cannot be built");
                return nullptr;
            }
            pdu->community_len = m_community.size();
        }
        m_sent = true;
        return pdu;
    }

    void onReply(const Reply& reply) override {
        if (reply.rc != 0) return finish(reply.rc, reply.error);
        if (reply.status != SNMP_ERR_NOERROR) return finish(BCE_E_INVALID, errorStatusName(reply.status));
        for (const VarBind& binding : reply.bindings)
            if (!isPresent(binding.value)) return finish(BCE_E_INVALID, exceptionName(binding.value.type));
        m_result.bindings = reply.bindings;
        finish(0);
    }

private:
    Oid m_id;
    Value m_value;
    std::string m_community;
    bool m_sent = false;
};

}  // namespace

void Request::finish(long rc, std::string error) {
    m_finished = true;
    m_result.rc = rc;
    m_result.error = std::move(error);
    if (rc != 0) m_result.bindings.clear();
}

std::string errorStatusName(long status) {
    if (status >= 0 && static_cast<size_t>(status) < std::size(kErrorStatusNames)) return kErrorStatusNames[status];
    return "error-status " + std::to_string(status);
}

bool isPresent(const Value& value) { return *exceptionName(value.type) == '\0'; }

std::unique_ptr<Request> makeGet(std::vector<Oid> oids) { return std::make_unique<Get>(std::move(oids)); }

std::unique_ptr<Request> makeSet(Oid id, Value value, std::string community) {
    return std::make_unique<Set>(std::move(id), std::move(value), std::move(community));
}

}  // namespace kvnet::snmp

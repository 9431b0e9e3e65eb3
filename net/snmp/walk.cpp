// The walk of a subtree (requests.h): GETBULK or GETNEXT from the last OID
// seen, guarded against agents that never end.
#include <algorithm>

#include "kvprtobj/zorbce.h"
#include "requests.h"

namespace kvnet::snmp {
namespace {

class Walk final : public Request {
public:
    Walk(Oid root, WalkLimits limits, SnmpVersion version, bool* bulkRefused)
        : m_root(std::move(root)),
          m_last(m_root),
          m_maxRows(limits.maxRows),
          m_repetitions(std::clamp(limits.maxRepetitions, 1u, kMostRepetitions)),
          m_bulk(version != SnmpVersion::V1 && !*bulkRefused),
          m_bulkRefused(bulkRefused) {}

    PduPtr next() override {
        if (finished()) return nullptr;
        if (m_root.empty() || m_root.size() >= MibView::kMaxOidLength) {
            finish(BCE_E_INVALID, "no subtree to walk");
            return nullptr;
        }
        if (m_result.bindings.size() >= m_maxRows) {
            finish(0);
            return nullptr;
        }
        PduPtr pdu(snmp_pdu_create(m_bulk ? SNMP_MSG_GETBULK : SNMP_MSG_GETNEXT));
        if (!pdu || !addNullBinding(pdu.get(), m_last)) {
            finish(BCE_E_NO_MEMORY, "the request cannot be built");
            return nullptr;
        }
        if (m_bulk) {
            pdu->non_repeaters = 0;
            pdu->max_repetitions = static_cast<long>(std::min<size_t>(m_repetitions, m_maxRows - m_result.bindings.size()));
        }
        return pdu;
    }

    void onReply(const Reply& reply) override {
        if (reply.rc != 0) return finish(reply.rc, reply.error);
        if (reply.status != SNMP_ERR_NOERROR) return onErrorStatus(reply.status);
        const size_t before = m_result.bindings.size();
        for (const VarBind& binding : reply.bindings) {
            // Past the subtree or the agent's view; or an agent going back
            // (an unsorted table): what came before is kept.
            if (!isPresent(binding.value) || !isUnder(binding.oid, m_root) || !(m_last < binding.oid)) return finish(0);
            m_last = binding.oid;
            m_result.bindings.push_back(binding);
            if (m_result.bindings.size() >= m_maxRows) return finish(0);
        }
        if (m_result.bindings.size() == before) finish(0);   // nothing to go on from
    }

private:
    // More rows per GETBULK than a datagram holds is pointless.
    static constexpr unsigned kMostRepetitions = 1000;

    void onErrorStatus(long status) {
        if (m_bulk && status == SNMP_ERR_TOOBIG && m_repetitions > 1) {
            m_repetitions /= 2;
            return;
        }
        if (m_bulk && status != SNMP_ERR_TOOBIG) {   // an agent that cannot do GETBULK
            m_bulk = false;
            *m_bulkRefused = true;
            return;
        }
        if (!m_bulk && status == SNMP_ERR_NOSUCHNAME) return finish(0);   // v1: nothing after the last row
        finish(BCE_E_INVALID, errorStatusName(status));
    }

    Oid m_root, m_last;
    size_t m_maxRows;
    unsigned m_repetitions;
    bool m_bulk;
    bool* m_bulkRefused;
};

}  // namespace

std::unique_ptr<Request> makeWalk(Oid root, WalkLimits limits, SnmpVersion version, bool* bulkRefused) {
    return std::make_unique<Walk>(std::move(root), limits, version, bulkRefused);
}

}  // namespace kvnet::snmp

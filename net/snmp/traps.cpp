#include "traps.h"

#include <charconv>
#include <cstdlib>

#include "gateway.h"
#include "library.h"

namespace kvnet::snmp {
namespace {

const Oid kSnmpTrapOid = {1, 3, 6, 1, 6, 3, 1, 1, 4, 1, 0};   // snmpTrapOID.0
const Oid kSnmpTraps = {1, 3, 6, 1, 6, 3, 1, 1, 5};          // snmpTraps: coldStart.1 ... egpNeighborLoss.6
constexpr long kEnterpriseSpecific = 6;                       // the v1 generic-trap that names its own

// The listeners of the process by endpoint ("127.0.0.1:162").
struct Registry {
    std::mutex lock;
    std::map<std::string, std::weak_ptr<TrapListener>> listeners;
};

Registry& registry() {
    static auto* instance = new Registry;   // never destroyed: the loop outlives static destruction
    return *instance;
}

std::string endpointText(const asio::ip::udp::endpoint& endpoint) {
    const std::string address = endpoint.address().to_string();
    return (endpoint.address().is_v6() ? "[" + address + "]" : address) + ":" + std::to_string(endpoint.port());
}

}  // namespace

std::optional<Oid> trapOidOf(const netsnmp_pdu& pdu) {
    if (pdu.command == SNMP_MSG_TRAP) {
        if (pdu.trap_type >= 0 && pdu.trap_type < kEnterpriseSpecific) return kSnmpTraps + Oid{uint32_t(pdu.trap_type + 1)};
        if (pdu.trap_type != kEnterpriseSpecific || pdu.specific_type < 0 || pdu.specific_type > UINT32_MAX)
            return std::nullopt;
        Oid enterprise = fromNetsnmp(pdu.enterprise, pdu.enterprise_length);
        if (enterprise.empty() || enterprise.size() + 2 > MibView::kMaxOidLength) return std::nullopt;
        return enterprise + Oid{0, uint32_t(pdu.specific_type)};
    }
    if (pdu.command != SNMP_MSG_TRAP2 && pdu.command != SNMP_MSG_INFORM) return std::nullopt;
    for (const netsnmp_variable_list* v = pdu.variables; v != nullptr; v = v->next_variable) {
        std::optional<VarBind> binding = toVarBind(*v);
        if (binding && binding->oid == kSnmpTrapOid)
            return binding->value.type == Value::Type::ObjectId ? std::optional(binding->value.oid) : std::nullopt;
    }
    return std::nullopt;
}

std::string TrapListener::endpointFromEnvironment() {
    const char* text = std::getenv("KVPRTOBJ_NET_TRAP_LISTEN");
    return text == nullptr ? std::string() : text;
}

bool TrapListener::parseEndpoint(const std::string& text, asio::ip::udp::endpoint* endpoint) {
    std::string address = "0.0.0.0", port = text;
    if (!text.empty() && text.front() == '[') {
        const size_t close = text.find("]:");
        if (close == std::string::npos) return false;
        address = text.substr(1, close - 1);
        port = text.substr(close + 2);
    } else if (const size_t colon = text.rfind(':'); colon != std::string::npos) {
        address = text.substr(0, colon);
        port = text.substr(colon + 1);
    }
    uint16_t number = 0;
    const auto [end, ec] = std::from_chars(port.data(), port.data() + port.size(), number);
    if (port.empty() || ec != std::errc() || end != port.data() + port.size()) return false;
    asio::error_code invalid;
    const asio::ip::address ip = asio::ip::make_address(address, invalid);
    if (invalid) return false;
    *endpoint = {ip, number};
    return true;
}

std::shared_ptr<TrapListener> TrapListener::start(const std::string& text, std::string* error) {
    asio::ip::udp::endpoint endpoint;
    if (!parseEndpoint(text, &endpoint)) {
        *error = "the trap endpoint is not [ADDRESS:]PORT";
        return nullptr;
    }
    Registry& known = registry();
    std::lock_guard guard(known.lock);
    std::erase_if(known.listeners, [](const auto& entry) { return entry.second.expired(); });
    const std::string key = endpointText(endpoint);
    if (auto running = known.listeners.find(key); running != known.listeners.end() && endpoint.port() != 0)
        if (auto listener = running->second.lock()) return listener;

    asio::ip::udp::socket socket(Gateway::instance().context());
    asio::error_code failure;
    socket.open(endpoint.protocol(), failure);
    if (!failure) socket.bind(endpoint, failure);
    if (failure) {
        *error = "cannot listen for traps on " + key + ": " + failure.message();
        return nullptr;
    }
    // Its socket belongs to the loop: it is deleted there.
    std::shared_ptr<TrapListener> listener(new TrapListener(std::move(socket)), [](TrapListener* gone) {
        if (Gateway::onThread()) delete gone;
        else Gateway::instance().post([gone] { delete gone; });
    });
    listener->m_self = listener;
    known.listeners[endpointText({endpoint.address(), listener->port()})] = listener;
    Gateway::instance().post([weak = std::weak_ptr(listener)] {
        initLibrary();
        if (auto self = weak.lock()) self->receive();
    });
    return listener;
}

TrapListener::TrapListener(asio::ip::udp::socket socket) : m_socket(std::move(socket)) {
    asio::error_code ignored;
    m_port = m_socket.local_endpoint(ignored).port();
}

TrapListener::~TrapListener() {
    asio::error_code ignored;
    m_socket.close(ignored);
}

unsigned TrapListener::addHandler(Handler handler) {
    std::lock_guard guard(m_handlersLock);
    m_handlers.emplace(m_nextHandler, std::move(handler));
    return m_nextHandler++;
}

void TrapListener::removeHandler(unsigned id) {
    std::lock_guard guard(m_handlersLock);
    m_handlers.erase(id);
}

TrapListener::Counters TrapListener::counters() const {
    return {m_datagrams.load(), m_hints.load(), m_dropped.load(), m_limited.load()};
}

void TrapListener::receive() {
    m_socket.async_receive_from(asio::buffer(m_buffer), m_sender,
                                [weak = m_self](const asio::error_code& error, size_t length) {
                                    auto self = weak.lock();
                                    if (!self || error == asio::error::operation_aborted) return;
                                    if (!error) self->onDatagram(length);
                                    self->receive();
                                });
}

void TrapListener::onDatagram(size_t length) {
    ++m_datagrams;
    PduPtr pdu = parseDatagram(m_buffer.data(), length);
    const std::optional<Oid> trap = pdu ? trapOidOf(*pdu) : std::nullopt;
    if (!trap) {
        ++m_dropped;
        return;
    }
    if (pdu->command == SNMP_MSG_INFORM) acknowledge(pdu.get());
    const std::string source = m_sender.address().to_string();
    if (!admit(source)) {
        ++m_limited;
        return;
    }
    ++m_hints;
    std::map<unsigned, Handler> handlers;
    {
        std::lock_guard guard(m_handlersLock);
        handlers = m_handlers;   // a handler may add or remove handlers
    }
    for (auto& [id, handler] : handlers) {
        try {
            handler(source, *trap);
        } catch (...) {   // one handler's failure must not stop the listener
        }
    }
}

// The response to an inform is the inform itself, typed RESPONSE (RFC 3416 4.2.7).
void TrapListener::acknowledge(netsnmp_pdu* inform) {
    inform->command = SNMP_MSG_RESPONSE;
    inform->errstat = SNMP_ERR_NOERROR;
    inform->errindex = 0;
    auto datagram = std::make_shared<std::string>(buildDatagram(inform));
    if (datagram->empty()) return;
    m_socket.async_send_to(asio::buffer(*datagram), m_sender, [datagram](const asio::error_code&, size_t) {});
}

bool TrapListener::admit(const std::string& source) {
    const auto now = std::chrono::steady_clock::now();
    auto recent = [&](const auto& entry) { return now - entry.second < kHintInterval; };
    auto it = m_lastHint.find(source);
    if (it != m_lastHint.end() && recent(*it)) return false;
    if (it == m_lastHint.end() && m_lastHint.size() >= kMaxSources) {
        std::erase_if(m_lastHint, [&](const auto& entry) { return !recent(entry); });
        if (m_lastHint.size() >= kMaxSources) return false;
    }
    m_lastHint[source] = now;
    return true;
}

}  // namespace kvnet::snmp

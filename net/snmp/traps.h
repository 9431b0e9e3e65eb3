// SNMP traps as hints that a printer changed. A UDP listener on the
// backend's loop receives SNMPv1 and v2c traps and informs (informs are
// acknowledged) and hands each (source address, trap OID) to the registered
// handlers, at most one hint per kHintInterval per source address. A trap is
// never taken as state: a handler polls the printer at that address.
//
//   KVPRTOBJ_NET_TRAP_LISTEN=[ADDRESS:]PORT   the UDP endpoint traps are
//       received on; no listener when unset. ADDRESS is an IPv4 address or
//       a bracketed IPv6 one, 0.0.0.0 when left out: "162", "10.0.0.5:1162",
//       "[::]:162". Port 162 needs the privilege to bind it.
//
// Anything else (broken BER, SNMPv3, a PDU that is not a notification) is
// dropped and counted. The work per datagram is one parse of at most
// kMaxDatagram bytes. There is one listener per endpoint in the process;
// its socket takes no gateway slot.
#pragma once

#include <net-snmp/net-snmp-config.h>
#include <net-snmp/net-snmp-includes.h>

#include <array>
#include <asio/ip/udp.hpp>
#include <atomic>
#include <chrono>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "convert.h"
#include "mib.h"

namespace kvnet::snmp {

class TrapListener {
public:
    using Handler = std::function<void(const std::string& source, const Oid& trapOid)>;
    struct Counters {
        uint64_t datagrams = 0;   // received
        uint64_t hints = 0;       // handed to the handlers
        uint64_t dropped = 0;     // not a v1/v2c trap or inform
        uint64_t limited = 0;     // a notification from a source hinted at less than kHintInterval ago
    };
    static constexpr std::chrono::milliseconds kHintInterval{1000};
    // Sources remembered for the rate limit; when all are recent, new ones wait.
    static constexpr size_t kMaxSources = 4096;

    // KVPRTOBJ_NET_TRAP_LISTEN; empty when unset.
    static std::string endpointFromEnvironment();
    // "[ADDRESS:]PORT" as an endpoint; false when malformed.
    static bool parseEndpoint(const std::string& text, asio::ip::udp::endpoint* endpoint);
    // The listener on `endpoint`, started unless one runs there already. Null
    // with a message when the endpoint is malformed or cannot be bound.
    static std::shared_ptr<TrapListener> start(const std::string& endpoint, std::string* error);

    ~TrapListener();
    TrapListener(const TrapListener&) = delete;
    TrapListener& operator=(const TrapListener&) = delete;

    // Handlers run on the loop, each with every hint. Safe from any thread.
    unsigned addHandler(Handler handler);
    void removeHandler(unsigned id);
    Counters counters() const;
    uint16_t port() const { return m_port; }   // the one bound (the system's choice for port 0)

private:
    explicit TrapListener(asio::ip::udp::socket socket);
    void receive();
    void onDatagram(size_t length);
    void acknowledge(netsnmp_pdu* inform);
    bool admit(const std::string& source);

    asio::ip::udp::socket m_socket;
    uint16_t m_port;
    std::array<uint8_t, kMaxDatagram + 1> m_buffer;
    asio::ip::udp::endpoint m_sender;
    std::map<std::string, std::chrono::steady_clock::time_point> m_lastHint;

    mutable std::mutex m_handlersLock;
    std::map<unsigned, Handler> m_handlers;
    unsigned m_nextHandler = 1;

    std::atomic<uint64_t> m_datagrams{0}, m_hints{0}, m_dropped{0}, m_limited{0};
    std::weak_ptr<TrapListener> m_self;
};

// The trap OID a notification carries: snmpTrapOID.0 of a v2c trap or inform;
// for a v1 trap, RFC 3584's translation (snmpTraps.N for the generic traps,
// enterprise.0.specific for the others). nullopt for any other PDU.
std::optional<Oid> trapOidOf(const netsnmp_pdu& pdu);

}  // namespace kvnet::snmp

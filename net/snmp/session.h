// One agent's net-snmp session (the single-session API) on the backend's
// loop. It is opened when a request comes and nothing is open: the host
// name is resolved off the loop (asio's resolver), a gateway slot is taken,
// the session opened and its UDP socket connected to the agent, so that an
// ICMP "port unreachable" comes back as an error instead of silence, and
// datagrams from anyone else are dropped by the kernel. On SNMPv3 the
// agent's engine is discovered first, without blocking (net-snmp's own
// probe would wait for the answer). The session closes, giving its slot
// back, kIdleClose after its last reply; sooner when slots run short: at
// once when someone waits for one, and the longest idle session closes
// when a session needs a slot and none is free.
//
// asio watches the socket (net-snmp keeps owning it) and net-snmp's retry
// timer. The time-out of a request is the options' timeout, for two
// attempts of half that each.
//
// net-snmp drops datagrams it cannot parse without a word; the session
// counts the datagrams that arrive while a request is out, and reports a
// request that times out after some arrived as a bad reply instead, or on
// SNMPv3 as refused: there they are the agent's unauthenticated reports
// (wrong keys, unknown user).
#pragma once

#include <asio/ip/udp.hpp>
#include <asio/posix/stream_descriptor.hpp>
#include <asio/steady_timer.hpp>
#include <chrono>
#include <functional>
#include <list>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "convert.h"
#include "options.h"
#include "usm.h"

namespace kvnet::snmp {

// What came back for one request PDU.
struct Reply {
    long rc = 0;          // 0: the agent answered; else BCE_E_TIMEOUT, BCE_E_CHANNEL_DOWN,
                          // BCE_E_NO_RESOURCES, BCE_E_BAD_REPLY, BCE_E_INVALID
    std::string error;    // why, when rc is not 0
    long status = 0;      // the answer's error-status (SNMP_ERR_*) and error-index
    long index = 0;
    std::vector<VarBind> bindings;   // those convert.h accepts
};

class Session : public std::enable_shared_from_this<Session> {
public:
    static constexpr std::chrono::milliseconds kIdleClose{2000};
    // Datagrams read in one wake-up of the loop; the rest wait for the next.
    static constexpr int kDatagramsPerWake = 32;
    // Past twice the time-out and this, a request ends even if net-snmp never says.
    static constexpr std::chrono::milliseconds kDeadlineSlack{1000};

    using Done = std::function<void(Reply)>;

    explicit Session(const NetOptions& options);
    ~Session();
    Session(const Session&) = delete;
    Session& operator=(const Session&) = delete;

    // Sends `pdu` and calls `done` once, from a handler of its own, with what
    // came back. One request at a time: the next is sent after `done`.
    void send(PduPtr pdu, Done done);
    // Drops the request in flight without calling its `done`, closes the session.
    void close();

    SnmpVersion version() const { return m_options.snmpVersion; }
    bool isOpen() const { return m_session != nullptr; }

private:
    enum class State { Closed, Resolving, WaitingSlot, Open };

    void open();
    void takeSlot();
    void connectSession();
    void transmit(PduPtr pdu);
    void discoverEngine();
    void onEngineDiscovered(const Reply& reply);
    void waitReadable();
    void onReadable();
    void armTimer();
    static int onNetsnmpEvent(int operation, netsnmp_session* session, int requestId, netsnmp_pdu* pdu, void* magic);
    void onEvent(int operation, int requestId, netsnmp_pdu* pdu);
    void complete(Reply reply);
    void failPending(long rc, std::string error);
    void closeSession();
    void idle();
    void leaveIdle();

    NetOptions m_options;
    std::optional<UsmSecurity> m_usm;   // SNMPv3: derived on the first open
    State m_state = State::Closed;
    asio::ip::udp::endpoint m_peer;
    asio::ip::udp::resolver m_resolver;
    asio::posix::stream_descriptor m_watch;
    asio::steady_timer m_retryTimer;
    asio::steady_timer m_deadline;
    asio::steady_timer m_idleTimer;
    void* m_session = nullptr;   // net-snmp's single session
    bool m_holdsSlot = false;
    bool m_closing = false;      // inside snmp_sess_close: its callbacks are ignored
    std::optional<std::list<Session*>::iterator> m_idleEntry;   // in the list of idle sessions

    // The request: waiting for the session to open, then in flight.
    PduPtr m_pending;
    Done m_done;
    bool m_discovering = false;  // the SNMPv3 engine discovery is in flight
    bool m_inFlight = false;
    int m_requestId = 0;
    bool m_dropSession = false;  // close once net-snmp's read returns
    size_t m_datagramsSeen = 0;
    // Changes on close(): replies and slots granted before it are dropped.
    uint64_t m_generation = 0;
};

}  // namespace kvnet::snmp

#include "session.h"

#include <net-snmp/library/large_fd_set.h>
#include <net-snmp/library/snmpusm.h>
#include <sys/socket.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include <asio/post.hpp>

#include "gateway.h"
#include "kvprtobj/zorbce.h"
#include "library.h"

namespace kvnet::snmp {
namespace {

// net-snmp wants its descriptors in a select() set, even for one socket.
class LargeFdSet {
public:
    explicit LargeFdSet(int fd) {
        netsnmp_large_fd_set_init(&m_set, fd + 1);
        NETSNMP_LARGE_FD_ZERO(&m_set);
        NETSNMP_LARGE_FD_SET(fd, &m_set);
    }
    ~LargeFdSet() { netsnmp_large_fd_set_cleanup(&m_set); }
    LargeFdSet(const LargeFdSet&) = delete;
    LargeFdSet& operator=(const LargeFdSet&) = delete;
    netsnmp_large_fd_set* get() { return &m_set; }

private:
    netsnmp_large_fd_set m_set;
};

// net-snmp's transport name for the agent's address: udp:1.2.3.4:161, udp6:[::1]:161.
std::string peerName(const asio::ip::udp::endpoint& peer) {
    const std::string port = std::to_string(peer.port());
    if (peer.address().is_v6()) return "udp6:[" + peer.address().to_string() + "]:" + port;
    return "udp:" + peer.address().to_string() + ":" + port;
}

long netsnmpVersion(SnmpVersion version) {
    switch (version) {
    case SnmpVersion::V1: return SNMP_VERSION_1;
    case SnmpVersion::V2c: return SNMP_VERSION_2c;
    case SnmpVersion::V3: return SNMP_VERSION_3;
    }
    return SNMP_VERSION_2c;
}

std::string apiError(void* session) {
    const netsnmp_session* s = session ? snmp_sess_session(session) : nullptr;
    return s ? snmp_api_errstring(s->s_snmp_errno) : "no session";
}

constexpr const char* kRefusedV3 = "the agent did not accept the SNMPv3 user, its keys or its security level";

// The reply a received PDU makes. A REPORT (SNMPv3: unknown user, wrong
// digest, ...) is the agent refusing the request. net-snmp hands over an
// empty PDU (no command) for an answer it could not authenticate.
Reply replyOf(const netsnmp_pdu* pdu, SnmpVersion version) {
    Reply reply;
    if (pdu == nullptr || (pdu->command != SNMP_MSG_RESPONSE && pdu->command != SNMP_MSG_REPORT)) {
        if (version == SnmpVersion::V3) reply = {BCE_E_INVALID, kRefusedV3};
        else reply = {BCE_E_BAD_REPLY, "an answer that could not be read"};
        return reply;
    }
    if (pdu->command == SNMP_MSG_REPORT) {
        reply.rc = BCE_E_INVALID;
        reply.error = std::string("the agent reported: ") +
                      snmp_api_errstring(snmpv3_get_report_type(const_cast<netsnmp_pdu*>(pdu)));
        return reply;
    }
    reply.status = pdu->errstat;
    reply.index = pdu->errindex;
    reply.bindings = bindingsOf(*pdu);
    return reply;
}

// The SNMPv3 discovery request (RFC 3414 4): unauthenticated, no user, no
// bindings; the agent answers with a report that carries its engine ID.
PduPtr engineProbe() {
    PduPtr probe(snmp_pdu_create(SNMP_MSG_GET));
    if (!probe) return nullptr;
    probe->version = SNMP_VERSION_3;
    probe->securityModel = SNMP_SEC_MODEL_USM;
    probe->securityLevel = SNMP_SEC_LEVEL_NOAUTH;
    probe->securityName = strdup("");
    probe->securityNameLen = 0;
    return probe;
}

// Open sessions waiting for their next request, longest idle first (loop thread only).
std::list<Session*>& idleSessions() {
    static auto* sessions = new std::list<Session*>;   // never destroyed: the loop outlives static destruction
    return *sessions;
}

}  // namespace

Session::Session(const NetOptions& options)
    : m_options(options),
      m_resolver(Gateway::instance().context()),
      m_watch(Gateway::instance().context()),
      m_retryTimer(Gateway::instance().context()),
      m_deadline(Gateway::instance().context()),
      m_idleTimer(Gateway::instance().context()) {}

Session::~Session() {
    ++m_generation;
    closeSession();
}

void Session::send(PduPtr pdu, Done done) {
    if (m_done) {   // one request at a time: a caller's mistake, refused
        asio::post(Gateway::instance().context(), [done = std::move(done)] {
            done(Reply{BCE_E_INVALID, "a request is already in flight"});
        });
        return;
    }
    leaveIdle();
    m_pending = std::move(pdu);
    m_done = std::move(done);
    switch (m_state) {
    case State::Open: transmit(std::move(m_pending)); break;
    case State::Closed: open(); break;
    case State::Resolving:
    case State::WaitingSlot: break;   // sent once the session is open
    }
}

void Session::close() {
    ++m_generation;
    m_pending.reset();
    m_done = nullptr;
    m_resolver.cancel();
    closeSession();
}

void Session::open() {
    initLibrary();
    if (m_options.snmpVersion == SnmpVersion::V3 && !m_usm) {
        UsmSecurity usm;
        std::string error;
        if (!usmSecurity(m_options.credentials, &usm, &error)) return failPending(BCE_E_INVALID, error);
        m_usm = usm;
    }
    asio::error_code literal;
    const asio::ip::address address = asio::ip::make_address(m_options.host, literal);
    if (!literal) {
        m_peer = {address, m_options.snmpPort};
        return takeSlot();
    }
    // A name: resolved on asio's resolver thread, never on the loop.
    m_state = State::Resolving;
    m_resolver.async_resolve(
        m_options.host, std::to_string(m_options.snmpPort), asio::ip::resolver_base::numeric_service,
        [weak = weak_from_this(), generation = m_generation](const asio::error_code& error,
                                                               const asio::ip::udp::resolver::results_type& results) {
            auto self = weak.lock();
            if (!self || self->m_generation != generation || self->m_state != State::Resolving) return;
            if (error || results.empty()) {
                self->m_state = State::Closed;
                return self->failPending(unreachableResult(error), "cannot resolve the host name: " + error.message());
            }
            self->m_peer = results.begin()->endpoint();
            self->takeSlot();
        });
}

void Session::takeSlot() {
    m_state = State::WaitingSlot;
    Gateway& gateway = Gateway::instance();
    if (gateway.slotsInUse() >= gateway.slotLimit() && !idleSessions().empty())
        idleSessions().front()->closeSession();   // its slot goes to the first who waits
    gateway.acquireSlot([weak = weak_from_this(), generation = m_generation] {
        auto self = weak.lock();
        if (!self || self->m_generation != generation || self->m_state != State::WaitingSlot) {
            Gateway::instance().releaseSlot();   // nobody wants it any more
            return;
        }
        self->m_holdsSlot = true;
        self->connectSession();
    });
}

void Session::connectSession() {
    netsnmp_session config;
    snmp_sess_init(&config);
    std::string peer = peerName(m_peer);
    std::string community = m_options.community;
    config.peername = peer.data();
    config.version = netsnmpVersion(m_options.snmpVersion);
    // Two attempts share the time-out; net-snmp counts in microseconds.
    config.timeout = std::max(1u, m_options.timeoutMs / 2) * 1000L;
    config.retries = 1;
    config.callback = onNetsnmpEvent;
    config.callback_magic = this;
    if (m_options.snmpVersion == SnmpVersion::V3) {
        applyUsm(*m_usm, &config);
        config.flags |= SNMP_FLAGS_DONT_PROBE;   // discovered below, without blocking
    } else {
        config.community = reinterpret_cast<u_char*>(community.data());
        config.community_len = community.size();
    }
    m_session = snmp_sess_open(&config);   // copies what `config` points to
    if (m_session == nullptr) {
        // s_errno: the system's error when the transport's socket could not be made.
        std::string why = snmp_api_errstring(config.s_snmp_errno);
        if (config.s_errno != 0) why += std::string(": ") + std::strerror(config.s_errno);
        closeSession();
        return failPending(unreachableResult(config.s_errno), "cannot open an SNMP session: " + why);
    }
    const netsnmp_transport* transport = snmp_sess_transport(m_session);
    const int fd = transport ? transport->sock : -1;
    asio::error_code error;
    if (fd < 0 || ::connect(fd, m_peer.data(), static_cast<socklen_t>(m_peer.size())) != 0) {
        const int connectError = fd < 0 ? 0 : errno;
        const std::string why = fd < 0 ? "no socket" : std::strerror(connectError);
        closeSession();
        return failPending(unreachableResult(connectError), "cannot reach the agent: " + why);
    }
    m_watch.assign(fd, error);
    if (error) {
        closeSession();
        return failPending(unreachableResult(error), "cannot watch the session's socket: " + error.message());
    }
    m_state = State::Open;
    waitReadable();
    if (m_options.snmpVersion == SnmpVersion::V3) discoverEngine();
    else transmit(std::move(m_pending));
}

void Session::discoverEngine() {
    m_discovering = true;
    transmit(engineProbe());
}

void Session::onEngineDiscovered(const Reply& reply) {
    m_discovering = false;
    // The expected answer is a report (BCE_E_INVALID here); only silence and
    // breakage fail the discovery.
    if (reply.rc != 0 && reply.rc != BCE_E_INVALID) return failPending(reply.rc, reply.error);
    netsnmp_session* session = snmp_sess_session(m_session);
    if (session == nullptr || session->securityEngineIDLen == 0)
        return failPending(BCE_E_BAD_REPLY, "the agent's answer named no SNMPv3 engine");
    // net-snmp keeps one user table for the process, made on discovery, and
    // would keep the keys an earlier session gave this user on this engine:
    // the user is made again from this session's keys, localised to the engine.
    if (usmUser* known = usm_get_user(session->securityEngineID, session->securityEngineIDLen, session->securityName)) {
        usm_remove_user(known);   // returns the list's head, not the user
        known->next = known->prev = nullptr;
        usm_free_user(known);
    }
    session->flags &= ~SNMP_FLAGS_USER_CREATED;
    if (create_user_from_session(session) != SNMPERR_SUCCESS)
        return failPending(BCE_E_INVALID, "the SNMPv3 user cannot be set up for the agent's engine");
    transmit(std::move(m_pending));
}

void Session::transmit(PduPtr pdu) {
    if (!pdu) return failPending(BCE_E_NO_MEMORY, "no request");
    m_datagramsSeen = 0;
    netsnmp_pdu* raw = pdu.release();
    m_requestId = snmp_sess_async_send(m_session, raw, onNetsnmpEvent, this);
    if (m_requestId == 0) {   // not sent: the PDU is still ours
        snmp_free_pdu(raw);
        return failPending(BCE_E_CHANNEL_DOWN, "the request could not be sent: " + apiError(m_session));
    }
    m_inFlight = true;
    armTimer();
    // Should net-snmp ever lose the request (drop an answer without ending
    // it), the request still ends, and the session with it.
    m_deadline.expires_after(kDeadlineSlack + std::chrono::milliseconds(2 * m_options.timeoutMs));
    m_deadline.async_wait([weak = weak_from_this(), generation = m_generation](const asio::error_code& error) {
        auto self = weak.lock();
        if (!self || error || self->m_generation != generation || !self->m_inFlight) return;
        if (self->m_deadline.expiry() > std::chrono::steady_clock::now()) return;   // set again meanwhile
        self->closeSession();
        self->failPending(BCE_E_TIMEOUT, "no answer");
    });
}

void Session::waitReadable() {
    m_watch.async_wait(asio::posix::descriptor_base::wait_read, [weak = weak_from_this()](const asio::error_code& error) {
        if (auto self = weak.lock(); self && !error) self->onReadable();
    });
}

// Reads what arrived until the socket is empty (asio's reactor is
// edge-triggered), at most kDatagramsPerWake before letting others run.
void Session::onReadable() {
    if (m_session == nullptr) return;
    const int fd = m_watch.native_handle();
    for (int read = 0; read < kDatagramsPerWake; ++read) {
        char byte;
        if (::recv(fd, &byte, 1, MSG_PEEK | MSG_DONTWAIT) < 0) {
            if (errno == EINTR) continue;
            if (errno == EAGAIN || errno == EWOULDBLOCK) {
                waitReadable();
                return;
            }
            // An ICMP error on the connected socket (port or host unreachable),
            // cleared by reading it: the request cannot be answered.
            const std::string why = std::strerror(errno);
            closeSession();
            return failPending(BCE_E_CHANNEL_DOWN, "the agent cannot be reached: " + why);
        }
        if (m_inFlight) ++m_datagramsSeen;
        LargeFdSet set(fd);
        snmp_sess_read2(m_session, set.get());
        if (m_dropSession) return closeSession();   // net-snmp still holds a request that has ended
    }
    asio::post(Gateway::instance().context(), [weak = weak_from_this()] {
        if (auto self = weak.lock()) self->onReadable();
    });
}

// net-snmp's next retry or time-out, as an asio timer.
void Session::armTimer() {
    if (m_session == nullptr || !m_inFlight) return;
    LargeFdSet set(m_watch.native_handle());
    int fds = 0, block = 1;
    timeval wait{};
    snmp_sess_select_info2_flags(m_session, &fds, set.get(), &wait, &block, NETSNMP_SELECT_NOALARMS);
    if (block) return;   // nothing outstanding
    m_retryTimer.expires_after(std::chrono::seconds(wait.tv_sec) + std::chrono::microseconds(wait.tv_usec));
    m_retryTimer.async_wait([weak = weak_from_this()](const asio::error_code& error) {
        auto self = weak.lock();
        if (!self || error || self->m_session == nullptr) return;
        snmp_sess_timeout(self->m_session);   // resends, or reports the time-out through the callback
        if (self->m_dropSession) return self->closeSession();
        self->armTimer();
    });
}

int Session::onNetsnmpEvent(int operation, netsnmp_session*, int requestId, netsnmp_pdu* pdu, void* magic) {
    // Called from net-snmp's C code: nothing may escape.
    try {
        auto* self = static_cast<Session*>(magic);
        if (self != nullptr && !self->m_closing) self->onEvent(operation, requestId, pdu);
    } catch (...) {
    }
    return 1;
}

// One request is out at a time, so whatever ends comes from it. An answer
// that does not carry the request's ID (net-snmp's notice of an answer it
// refused) ends it too, but net-snmp keeps the request: the session closes.
void Session::onEvent(int operation, int requestId, netsnmp_pdu* pdu) {
    // RESEND comes before each retry: not an end.
    if (operation == NETSNMP_CALLBACK_OP_RESEND || !m_inFlight) return;
    m_inFlight = false;
    m_retryTimer.cancel();
    m_deadline.cancel();
    Reply reply;
    switch (operation) {
    case NETSNMP_CALLBACK_OP_RECEIVED_MESSAGE:
        reply = replyOf(pdu, m_options.snmpVersion);
        m_dropSession = requestId != m_requestId;
        break;
    case NETSNMP_CALLBACK_OP_TIMED_OUT:
        if (m_datagramsSeen == 0) reply = {BCE_E_TIMEOUT, "no answer"};
        // An SNMPv3 agent's answers that net-snmp drops are its unauthenticated
        // reports: wrong digest, unknown user, a security level not the user's.
        else if (m_options.snmpVersion == SnmpVersion::V3) reply = {BCE_E_INVALID, kRefusedV3};
        else reply = {BCE_E_BAD_REPLY, "the agent's datagrams could not be parsed"};
        break;
    case NETSNMP_CALLBACK_OP_SEND_FAILED:
        reply = {BCE_E_CHANNEL_DOWN, "the request could not be sent"};
        break;
    case NETSNMP_CALLBACK_OP_SEC_ERROR:   // an SNMPv3 answer that failed its security checks
        reply = {BCE_E_INVALID, kRefusedV3};
        m_dropSession = true;
        break;
    default:
        reply = {BCE_E_CHANNEL_DOWN, "the session was closed"};
        break;
    }
    if (!m_discovering || m_dropSession) {
        if (m_discovering && reply.rc == 0) reply = {BCE_E_BAD_REPLY, "the agent's engine could not be discovered"};
        return complete(std::move(reply));
    }
    // net-snmp is still inside its read: the request goes out from a handler of its own.
    asio::post(Gateway::instance().context(),
               [weak = weak_from_this(), generation = m_generation, reply = std::move(reply)] {
                   auto self = weak.lock();
                   if (self && self->m_generation == generation && self->m_session) self->onEngineDiscovered(reply);
               });
}

void Session::failPending(long rc, std::string error) {
    Reply reply;
    reply.rc = rc;
    reply.error = std::move(error);
    complete(std::move(reply));
}

// Hands `reply` to the request's `done` from a handler of its own, unless
// the session is closed before it runs.
void Session::complete(Reply reply) {
    m_inFlight = false;
    m_discovering = false;
    m_pending.reset();
    Done done = std::move(m_done);
    m_done = nullptr;
    if (!done) return;
    asio::post(Gateway::instance().context(), [weak = weak_from_this(), generation = m_generation,
                                               done = std::move(done), reply = std::move(reply)]() mutable {
        auto self = weak.lock();
        if (!self || self->m_generation != generation) return;
        done(std::move(reply));   // may send the next request, or close
        if (!self->m_done && self->m_state == State::Open) self->idle();
    });
}

void Session::idle() {
    if (Gateway::instance().slotsContended()) return closeSession();
    if (!m_idleEntry) m_idleEntry = idleSessions().insert(idleSessions().end(), this);
    m_idleTimer.expires_after(kIdleClose);
    m_idleTimer.async_wait([weak = weak_from_this()](const asio::error_code& error) {
        auto self = weak.lock();
        // A request sent meanwhile, or the timer set again, keeps the session.
        if (!self || error || self->m_done || self->m_idleTimer.expiry() > std::chrono::steady_clock::now()) return;
        self->closeSession();
    });
}

void Session::leaveIdle() {
    if (m_idleEntry) idleSessions().erase(*m_idleEntry);
    m_idleEntry.reset();
}

void Session::closeSession() {
    leaveIdle();
    m_idleTimer.cancel();
    m_retryTimer.cancel();
    m_deadline.cancel();
    if (m_session != nullptr) {
        // asio lets go of the socket first: net-snmp closes it.
        m_watch.release();
        m_closing = true;   // snmp_sess_close reports outstanding requests as timed out
        snmp_sess_close(m_session);
        m_closing = false;
        m_session = nullptr;
    }
    if (m_holdsSlot) {
        m_holdsSlot = false;
        Gateway::instance().releaseSlot();
    }
    m_inFlight = false;
    m_discovering = false;
    m_dropSession = false;
    m_state = State::Closed;
}

}  // namespace kvnet::snmp

// TcpLink: resolving the server's addresses, dialling them in turn, and the
// greeting that opens the connection.
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/time.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>
#include <memory>

#include "tcp_link_common.h"
#include "wire/socket.h"

namespace zorbce {
namespace {

using kvwire::Bytes;
using kvwire::Frame;
using namespace tcplink;

// The addresses of host:port; numeric ones only when `numericOnly` (the I/O
// thread does not wait for a name server). When there are none, `why` says
// whether the lookup had no resources (-19) or found nothing (-10).
template <class Address>
std::vector<Address> resolve(const std::string& host, const std::string& port, bool numericOnly, long* why) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    if (numericOnly) hints.ai_flags = AI_NUMERICHOST | AI_NUMERICSERV;
    addrinfo* list = nullptr;
    std::vector<Address> addresses;
    *why = BCE_E_CHANNEL_DOWN;
    if (int rc = ::getaddrinfo(host.c_str(), port.c_str(), &hints, &list); rc != 0) {
        if (rc == EAI_MEMORY || (rc == EAI_SYSTEM && kvwire::outOfResources(errno))) *why = BCE_E_NO_RESOURCES;
        return addresses;
    }
    std::unique_ptr<addrinfo, void (*)(addrinfo*)> owner(list, ::freeaddrinfo);
    for (addrinfo* ai = list; ai != nullptr; ai = ai->ai_next) {
        Address a;
        if (ai->ai_addrlen > sizeof a.storage) continue;
        std::memcpy(&a.storage, ai->ai_addr, ai->ai_addrlen);
        a.length = ai->ai_addrlen;
        addresses.push_back(a);
    }
    return addresses;
}

// Why an attempt failed where no system error says it.
constexpr const char* kNoSuchHost = "no such host name";
constexpr const char* kNoResources = "too many open files";

}  // namespace

std::string TcpLink::lastFailure() {
    std::string words;
    {
        std::lock_guard guard(m_lock);
        words = m_failure;
    }
    // The system's sentences begin with a capital: words do not.
    if (!words.empty() && words[0] >= 'A' && words[0] <= 'Z') words[0] = static_cast<char>(words[0] - 'A' + 'a');
    return words;
}

long TcpLink::prepare(std::unique_lock<std::mutex>& guard) {
    if (m_state != State::Closed) return BCE_OK;
    if (Clock::now() < m_quietUntil) return BCE_E_TIMEOUT;
    // A host name is resolved again for every connection, by the thread that
    // asks for it: the I/O thread must not wait for a name server, so it uses
    // the addresses found last (or a numeric address).
    if (!IoLoop::onIoThread()) {
        guard.unlock();
        long why;
        auto endpoints = resolve<Address>(m_address.host, m_address.port, false, &why);
        guard.lock();
        if (m_closed) return BCE_E_BAD_HANDLE;
        if (m_state != State::Closed) return BCE_OK;   // another thread got there first
        if (endpoints.empty()) {
            m_failure = why == BCE_E_NO_RESOURCES ? kNoResources : kNoSuchHost;
            return why;
        }
        m_endpoints = std::move(endpoints);
    } else if (m_endpoints.empty()) {
        long why;
        m_endpoints = resolve<Address>(m_address.host, m_address.port, true, &why);
        if (m_endpoints.empty()) return why;
    }
    uint64_t generation = m_generation + 1;
    if (!later([self = shared_from_this(), generation] { self->dial(generation, 0); })) return BCE_E_NO_MEMORY;
    m_generation = generation;
    m_state = State::Dialling;
    m_attemptDeadline = Clock::now() + m_timeout;
    watch();
    return BCE_OK;
}

void TcpLink::dial(uint64_t generation, size_t endpoint) {
    Address to;
    {
        std::unique_lock guard(m_lock);
        if (generation != m_generation || m_state != State::Dialling) return;
        if (endpoint >= m_endpoints.size()) {
            guard.unlock();
            fail(generation, BCE_E_CHANNEL_DOWN);   // every address refused
            return;
        }
        to = m_endpoints[endpoint];
        m_endpoint = endpoint;
    }
    int fd = ::socket(to.storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, IPPROTO_TCP);
    if (fd < 0) {
        dialFailed(generation, endpoint, errno);
        return;
    }
    int one = 1;
    ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
    if (::connect(fd, reinterpret_cast<const sockaddr*>(&to.storage), to.length) != 0 && errno != EINPROGRESS) {
        int error = errno;
        ::close(fd);
        dialFailed(generation, endpoint, error);
        return;
    }
    std::unique_lock guard(m_lock);
    if (generation != m_generation) {
        ::close(fd);
        return;
    }
    m_token = IoLoop::get().add(fd, EPOLLOUT, std::weak_ptr<IoLoop::Watcher>(shared_from_this()));
    if (m_token == 0) {
        int error = errno;
        ::close(fd);
        guard.unlock();
        fail(generation, kvwire::outOfResources(error) ? BCE_E_NO_RESOURCES : BCE_E_CHANNEL_DOWN);
        return;
    }
    m_fd = fd;
}

void TcpLink::dialFailed(uint64_t generation, size_t endpoint, int error) {
    {
        std::lock_guard guard(m_lock);
        if (generation == m_generation) m_failure = ::strerrordesc_np(error) ? ::strerrordesc_np(error) : "";
    }
    // Out of descriptors or buffers no address would do better, and the
    // printer is not to blame: the callers are told so, not "unreachable".
    if (kvwire::outOfResources(error))
        fail(generation, BCE_E_NO_RESOURCES);
    else
        dial(generation, endpoint + 1);
}

void TcpLink::dialled(uint64_t generation) {
    int error = 0;
    socklen_t length = sizeof error;
    size_t endpoint = 0;
    {
        std::lock_guard guard(m_lock);
        if (generation != m_generation) return;
        if (::getsockopt(m_fd, SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
        if (error != 0) {
            IoLoop::get().remove(m_fd, m_token);
            ::close(m_fd);
            m_fd = -1;
            endpoint = m_endpoint;
        }
    }
    if (error != 0) {
        dialFailed(generation, endpoint, error);
        return;
    }
    Bytes greeting;
    try {
        greeting = kvwire::encodeFrame({kvwire::kHello, 0, kvwire::encode(kvwire::HelloRequest{m_address.printer})});
    } catch (const std::bad_alloc&) {
        fail(generation, BCE_E_NO_MEMORY);
        return;
    }
    {
        std::lock_guard guard(m_lock);
        if (generation != m_generation) return;
        m_blocks = blockingReads(m_fd);
        m_state = State::Greeting;
        m_out = std::move(greeting);
        m_outStart = 0;
        m_flushing = true;
    }
    flush(generation);
}

bool TcpLink::blockingReads(int fd) const {
    // Every other read and write passes MSG_DONTWAIT.
    if (m_blockingRead.count() == 0) return false;
    timeval limit{static_cast<time_t>(m_blockingRead.count() / 1000), static_cast<suseconds_t>(m_blockingRead.count() % 1000 * 1000)};
    if (::setsockopt(fd, SOL_SOCKET, SO_RCVTIMEO, &limit, sizeof limit) != 0) return false;
    int flags = ::fcntl(fd, F_GETFL);
    return flags >= 0 && ::fcntl(fd, F_SETFL, flags & ~O_NONBLOCK) == 0;
}

void TcpLink::greeted(uint64_t generation, const Frame& frame) {
    kvwire::HelloReply answer;
    if (!kvwire::decode(frame.payload, &answer)) {
        fail(generation, BCE_E_BAD_REPLY);
        return;
    }
    if (answer.rc != BCE_OK) {
        fail(generation, answer.rc);   // no such printer on the server
        return;
    }
    Taken waiting;
    long rc = BCE_OK;
    bool flushNow = false;
    {
        std::lock_guard guard(m_lock);
        if (generation != m_generation) return;
        try {
            m_out.insert(m_out.end(), m_held.begin(), m_held.end());
            m_state = State::Open;
            m_failure = "";
            release(m_held);
            waiting.awaiting.swap(m_awaitingConnection);
            flushNow = !m_flushing && m_outStart < m_out.size();
            m_flushing = m_flushing || flushNow;
        } catch (const std::bad_alloc&) {
            rc = BCE_E_NO_MEMORY;
            waiting = dropLocked(rc);
        }
    }
    if (flushNow) flush(generation);
    finishAll(waiting, rc);
}

}  // namespace zorbce

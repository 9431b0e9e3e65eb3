#include "socket.h"

#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <fstream>

namespace kvwire {
namespace {

using Clock = std::chrono::steady_clock;

// Milliseconds left until `deadline`, or -1 for no deadline.
int remainingMs(bool hasDeadline, Clock::time_point deadline) {
    if (!hasDeadline) return -1;
    auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - Clock::now()).count();
    return left > 0 ? static_cast<int>(left) : 0;
}

// Waits for bytes (until `deadline` if there is one) and receives what has
// arrived, at most `capacity`: Ok with `received` > 0, or why not.
Io receiveSome(int fd, uint8_t* buffer, size_t capacity, bool hasDeadline, Clock::time_point deadline,
               size_t* received) {
    for (;;) {
        if (hasDeadline) {
            pollfd p{fd, POLLIN, 0};
            int ready = ::poll(&p, 1, remainingMs(true, deadline));
            if (ready < 0 && errno == EINTR) continue;
            if (ready < 0) return Io::Failed;
            if (ready == 0) return Io::TimedOut;
        }
        ssize_t n = ::recv(fd, buffer, capacity, 0);
        if (n > 0) {
            *received = static_cast<size_t>(n);
            return Io::Ok;
        }
        if (n == 0) return Io::Closed;
        if (errno == EINTR) continue;
        if (errno == EAGAIN || errno == EWOULDBLOCK) return Io::TimedOut;
        if (errno == ECONNRESET || errno == EPIPE || errno == ENOTCONN || errno == EBADF) return Io::Closed;
        return Io::Failed;
    }
}

Io readExactly(int fd, uint8_t* buffer, size_t length, bool hasDeadline, Clock::time_point deadline) {
    for (size_t got = 0, n = 0; got < length; got += n)
        if (Io io = receiveSome(fd, buffer + got, length - got, hasDeadline, deadline, &n); io != Io::Ok) return io;
    return Io::Ok;
}

}  // namespace

Io readFrame(int fd, Frame* frame, int timeoutMs) {
    bool hasDeadline = timeoutMs >= 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(hasDeadline ? timeoutMs : 0);
    uint8_t header[kHeaderSize];
    Io io = readExactly(fd, header, kHeaderSize, hasDeadline, deadline);
    if (io != Io::Ok) return io;
    uint8_t type;
    uint32_t id, length;
    if (decodeHeader(header, &type, &id, &length) != Decode::Ok) return Io::Malformed;
    frame->type = type;
    frame->id = id;
    frame->payload.resize(length);
    return length ? readExactly(fd, frame->payload.data(), length, hasDeadline, deadline) : Io::Ok;
}

Io FrameReader::read(Frame* frame, int timeoutMs) {
    bool hasDeadline = timeoutMs >= 0;
    auto deadline = Clock::now() + std::chrono::milliseconds(hasDeadline ? timeoutMs : 0);
    for (;;) {
        switch (m_frames.next(frame)) {
        case FrameAssembler::Result::Frame:
            return Io::Ok;
        case FrameAssembler::Result::Malformed:
        case FrameAssembler::Result::Oversized:
            return Io::Malformed;
        case FrameAssembler::Result::NeedMore:
            break;
        }
        size_t n = 0;
        if (Io io = receiveSome(m_fd, m_chunk.data(), m_chunk.size(), hasDeadline, deadline, &n); io != Io::Ok)
            return io;
        m_frames.feed(m_chunk.data(), n);
    }
}

Io writeAll(int fd, const void* data, size_t length) {
    auto* p = static_cast<const uint8_t*>(data);
    size_t sent = 0;
    while (sent < length) {
        ssize_t n = ::send(fd, p + sent, length - sent, MSG_NOSIGNAL);
        if (n > 0) {
            sent += static_cast<size_t>(n);
            continue;
        }
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return Io::TimedOut;
        return Io::Closed;
    }
    return Io::Ok;
}

Io writeFrame(int fd, const Frame& frame) {
    Bytes bytes = encodeFrame(frame);
    return writeAll(fd, bytes.data(), bytes.size());
}

int connectTcp(const std::string& host, const std::string& port, int timeoutMs, Connect* result) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    addrinfo* list = nullptr;
    if (::getaddrinfo(host.c_str(), port.c_str(), &hints, &list) != 0 || list == nullptr) {
        *result = Connect::BadAddress;
        return -1;
    }
    auto deadline = Clock::now() + std::chrono::milliseconds(timeoutMs);
    *result = Connect::Refused;
    int fd = -1;
    for (addrinfo* ai = list; ai != nullptr && fd < 0; ai = ai->ai_next) {
        int s = ::socket(ai->ai_family, ai->ai_socktype | SOCK_CLOEXEC | SOCK_NONBLOCK, ai->ai_protocol);
        if (s < 0) continue;
        int rc = ::connect(s, ai->ai_addr, ai->ai_addrlen);
        if (rc != 0 && errno == EINPROGRESS) {
            pollfd p{s, POLLOUT, 0};
            int ready;
            do ready = ::poll(&p, 1, remainingMs(true, deadline));
            while (ready < 0 && errno == EINTR);
            if (ready == 0) {
                *result = Connect::TimedOut;
                ::close(s);
                continue;
            }
            int error = 0;
            socklen_t len = sizeof error;
            rc = (ready > 0 && ::getsockopt(s, SOL_SOCKET, SO_ERROR, &error, &len) == 0 && error == 0) ? 0 : -1;
        }
        if (rc != 0) {
            ::close(s);
            continue;
        }
        ::fcntl(s, F_SETFL, ::fcntl(s, F_GETFL) & ~O_NONBLOCK);
        int one = 1;
        ::setsockopt(s, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
        fd = s;
    }
    ::freeaddrinfo(list);
    if (fd >= 0) *result = Connect::Ok;
    return fd;
}

int listenTcp(const std::string& host, const std::string& port, uint16_t* boundPort, std::string* error, int backlog) {
    addrinfo hints{};
    hints.ai_family = AF_UNSPEC;
    hints.ai_socktype = SOCK_STREAM;
    hints.ai_flags = AI_PASSIVE;
    addrinfo* list = nullptr;
    int gai = ::getaddrinfo(host.empty() ? nullptr : host.c_str(), port.c_str(), &hints, &list);
    if (gai != 0 || list == nullptr) {
        *error = "cannot resolve " + host + ":" + port + ": " + ::gai_strerror(gai);
        return -1;
    }
    int fd = ::socket(list->ai_family, list->ai_socktype | SOCK_CLOEXEC, list->ai_protocol);
    int one = 1;
    if (fd >= 0) ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (fd < 0 || ::bind(fd, list->ai_addr, list->ai_addrlen) != 0 || ::listen(fd, backlog) != 0) {
        *error = "cannot listen on " + host + ":" + port + ": " + std::strerror(errno);
        if (fd >= 0) ::close(fd);
        ::freeaddrinfo(list);
        return -1;
    }
    ::freeaddrinfo(list);
    sockaddr_storage bound{};
    socklen_t len = sizeof bound;
    ::getsockname(fd, reinterpret_cast<sockaddr*>(&bound), &len);
    if (bound.ss_family == AF_INET6)
        *boundPort = ntohs(reinterpret_cast<sockaddr_in6*>(&bound)->sin6_port);
    else
        *boundPort = ntohs(reinterpret_cast<sockaddr_in*>(&bound)->sin_port);
    return fd;
}

bool splitHostPort(const std::string& text, std::string* host, std::string* port) {
    size_t colon;
    if (!text.empty() && text[0] == '[') {
        size_t close = text.find(']');
        if (close == std::string::npos || close + 1 >= text.size() || text[close + 1] != ':') return false;
        *host = text.substr(1, close - 1);
        colon = close + 1;
    } else {
        colon = text.rfind(':');
        if (colon == std::string::npos) return false;
        *host = text.substr(0, colon);
    }
    *port = text.substr(colon + 1);
    if (host->empty() || port->empty() || port->size() > 5) return false;
    for (char c : *port)
        if (c < '0' || c > '9') return false;
    return std::stoul(*port) <= 65535;
}

bool writePortFile(const std::string& path, uint16_t port) {
    std::string temporary = path + ".tmp";
    {
        std::ofstream out(temporary, std::ios::trunc);
        out << port << "\n";
        if (!out.flush()) return false;
    }
    return std::rename(temporary.c_str(), path.c_str()) == 0;
}

}  // namespace kvwire

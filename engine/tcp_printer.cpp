#include "tcp_printer.h"

#include <sys/socket.h>
#include <sys/time.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>


namespace zorbce {
namespace {

using kvwire::Io;

bool parseMs(const std::string& text, int* ms) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    *ms = std::atoi(text.c_str());
    return *ms > 0;
}

long codeOf(Io io) {
    switch (io) {
    case Io::Ok: return BCE_OK;
    case Io::Malformed: return BCE_E_BAD_REPLY;
    case Io::TimedOut: return BCE_E_TIMEOUT;
    default: return BCE_E_CONNECTION_RESET;
    }
}

}  // namespace

bool parseTcpUri(const std::string& uri, TcpAddress* address, std::string* error) {
    const std::string scheme = "tcp://";
    if (uri.compare(0, scheme.size(), scheme) != 0) {
        *error = "not a tcp:// URI";
        return false;
    }
    std::string rest = uri.substr(scheme.size());
    std::string query;
    if (size_t q = rest.find('?'); q != std::string::npos) {
        query = rest.substr(q + 1);
        rest.erase(q);
    }
    std::string authority = rest;
    // The printer part follows the first '/' after the port (an IPv6 host is bracketed).
    size_t slash = rest.find('/', rest[0] == '[' ? rest.find(']') : 0);
    if (slash != std::string::npos) {
        authority = rest.substr(0, slash);
        address->printer = rest.substr(slash + 1);
    }
    if (!kvwire::splitHostPort(authority, &address->host, &address->port)) {
        *error = "expected tcp://HOST:PORT[/PRINTER][?timeout=MS], got " + uri;
        return false;
    }
    address->timeoutMs = kDefaultTcpTimeoutMs;
    if (const char* env = std::getenv("KVPRTOBJ_TCP_TIMEOUT_MS"); env && *env) {
        if (!parseMs(env, &address->timeoutMs)) {
            *error = std::string("KVPRTOBJ_TCP_TIMEOUT_MS is not a positive number of milliseconds: ") + env;
            return false;
        }
    }
    while (!query.empty()) {
        size_t amp = query.find('&');
        std::string item = query.substr(0, amp);
        query = amp == std::string::npos ? std::string() : query.substr(amp + 1);
        if (item.compare(0, 8, "timeout=") == 0 && parseMs(item.substr(8), &address->timeoutMs)) continue;
        *error = "unknown or malformed URI parameter: " + item;
        return false;
    }
    return true;
}

TcpPrinter::TcpPrinter(TcpAddress address) : m_address(std::move(address)) {}

TcpPrinter::~TcpPrinter() {
    {
        std::lock_guard guard(m_lock);
        m_stopping = true;
        if (m_fd >= 0) ::shutdown(m_fd, SHUT_RDWR);
    }
    m_idle.notify_all();
    std::lock_guard connecting(m_connectLock);
    if (m_watcher.joinable()) m_watcher.join();
    if (m_fd >= 0) ::close(m_fd);   // the watcher was its last reader
}

long TcpPrinter::connect() {
    std::lock_guard connecting(m_connectLock);
    {
        std::lock_guard guard(m_lock);
        if (m_stopping) return BCE_E_CONNECTION_RESET;
        if (m_fd >= 0) return BCE_OK;
    }
    if (m_watcher.joinable()) m_watcher.join();   // the watcher of a dropped connection ends by itself

    kvwire::Connect result;
    int fd = kvwire::connectTcp(m_address.host, m_address.port, m_address.timeoutMs, &result);
    if (fd < 0) return result == kvwire::Connect::TimedOut ? BCE_E_TIMEOUT : BCE_E_CHANNEL_DOWN;
    timeval tv{m_address.timeoutMs / 1000, (m_address.timeoutMs % 1000) * 1000};
    ::setsockopt(fd, SOL_SOCKET, SO_SNDTIMEO, &tv, sizeof tv);

    // The greeting names the printer of this connection; it is answered
    // before any other frame, so it is read here, before anyone else reads.
    kvwire::Frame hello{kvwire::kHello, 0, kvwire::encode(kvwire::HelloRequest{m_address.printer})};
    kvwire::Frame reply;
    Io io = kvwire::writeFrame(fd, hello);
    if (io == Io::Ok) io = kvwire::readFrame(fd, &reply, m_address.timeoutMs);
    kvwire::HelloReply answer;
    long rc = codeOf(io);
    if (rc == BCE_OK && (reply.type != (kvwire::kHello | kvwire::kReplyBit) || !kvwire::decode(reply.payload, &answer)))
        rc = BCE_E_BAD_REPLY;
    if (rc == BCE_OK) rc = answer.rc;
    if (rc != BCE_OK) {
        ::close(fd);
        return rc;
    }
    {
        std::lock_guard guard(m_lock);
        m_fd = fd;
        m_frames = std::make_unique<kvwire::FrameReader>(fd);
        m_lastCall = std::chrono::steady_clock::now();
    }
    m_watcher = std::thread(&TcpPrinter::watchLoop, this, fd);
    return BCE_OK;
}

Io TcpPrinter::readOne(std::unique_lock<std::mutex>& guard, int fd, int timeoutMs) {
    m_reading = true;
    kvwire::FrameReader& frames = *m_frames;
    guard.unlock();
    kvwire::Frame frame;
    Io io = frames.read(&frame, timeoutMs);
    long rc = BCE_OK;
    if (io == Io::Ok && frame.type == kvwire::kAlert) {
        kvwire::AlertNotice notice;
        if (kvwire::decode(frame.payload, &notice))
            BceNotifyAlert(this, notice.alertId, notice.family);
        else
            rc = BCE_E_BAD_REPLY;
    } else if (io == Io::Ok && !(frame.type & kvwire::kReplyBit) && frame.type != kvwire::kError) {
        rc = BCE_E_BAD_REPLY;   // servers do not send requests
    } else if (io != Io::Ok && io != Io::TimedOut) {
        rc = codeOf(io);
    }
    guard.lock();
    if (rc != BCE_OK) {
        drop(guard, fd, rc);
        return Io::Closed;
    }
    m_reading = false;
    if (io == Io::Ok && frame.type != kvwire::kAlert) {
        auto it = m_pending.find(frame.id);
        if (it != m_pending.end()) {   // else its request has timed out
            it->second->reply = std::move(frame);
            it->second->done = true;
            m_pending.erase(it);
        }
    }
    m_replied.notify_all();   // the reply's caller, and anyone who may read now
    return io;
}

void TcpPrinter::drop(std::unique_lock<std::mutex>& guard, int fd, long rc) {
    // Every request still waiting gets the failure, and the next request
    // connects again. Nobody reads the descriptor any more (readers need m_fd
    // to be theirs); writers hold m_writeLock while they use it, so it is
    // closed only when no write is under way.
    for (auto& [id, pending] : m_pending) {
        pending->rc = rc;
        pending->done = true;
    }
    m_pending.clear();
    m_fd = -1;
    m_frames.reset();
    m_reading = false;
    m_replied.notify_all();
    m_idle.notify_all();
    guard.unlock();
    ::shutdown(fd, SHUT_RDWR);
    {
        std::lock_guard writing(m_writeLock);
        ::close(fd);
    }
    guard.lock();
}

void TcpPrinter::watchLoop(int fd) {
    // The watcher reads only while no request waits and none was sent for a
    // while: a caller reads its own reply faster than a hand-over from here.
    constexpr auto kQuiet = std::chrono::milliseconds(100);
    std::unique_lock guard(m_lock);
    while (!m_stopping && m_fd == fd) {
        auto quietSince = m_lastCall + kQuiet;
        if (m_reading || !m_pending.empty() || std::chrono::steady_clock::now() < quietSince) {
            m_idle.wait_until(guard, std::max(quietSince, std::chrono::steady_clock::now() + kQuiet / 10));
            continue;
        }
        readOne(guard, fd, -1);
    }
}

long TcpPrinter::call(uint8_t type, kvwire::Bytes payload, kvwire::Bytes* replyPayload) {
    long rc = connect();
    if (rc != BCE_OK) return rc;

    auto pending = std::make_shared<Pending>();
    kvwire::Frame request{type, 0, std::move(payload)};
    int fd;
    {
        std::lock_guard writing(m_writeLock);
        {
            std::lock_guard guard(m_lock);
            if (m_fd < 0) return BCE_E_CONNECTION_RESET;   // dropped since connect()
            fd = m_fd;
            do request.id = m_nextId++;
            while (request.id == 0 || m_pending.count(request.id));
            m_pending[request.id] = pending;
            m_lastCall = std::chrono::steady_clock::now();
        }
        Io io = kvwire::writeFrame(fd, request);
        if (io != Io::Ok) {
            ::shutdown(fd, SHUT_RDWR);   // its reader drops the connection
            std::lock_guard guard(m_lock);
            m_pending.erase(request.id);
            return io == Io::TimedOut ? BCE_E_TIMEOUT : BCE_E_CONNECTION_RESET;
        }
    }

    // Wait for the reply: read the connection while nobody else does, else
    // wait for whoever reads it to hand the reply over.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(m_address.timeoutMs);
    std::unique_lock guard(m_lock);
    while (!pending->done) {
        auto now = std::chrono::steady_clock::now();
        if (now >= deadline) break;
        if (!m_reading && m_fd == fd) {
            auto left = std::chrono::duration_cast<std::chrono::milliseconds>(deadline - now).count();
            readOne(guard, fd, static_cast<int>(left) + 1);
        } else if (m_reading || m_fd == fd) {
            m_replied.wait_until(guard, deadline);
        } else {
            break;   // dropped: `pending` is done
        }
    }
    if (!pending->done) {
        m_pending.erase(request.id);
        return BCE_E_TIMEOUT;
    }
    if (pending->rc != BCE_OK) return pending->rc;
    kvwire::Frame& reply = pending->reply;
    if (reply.type == kvwire::kError) {
        kvwire::ErrorReply error;
        return kvwire::decode(reply.payload, &error) && error.rc < 0 ? long{error.rc} : long{BCE_E_BAD_REPLY};
    }
    if (reply.type != (type | kvwire::kReplyBit)) return BCE_E_BAD_REPLY;
    *replyPayload = std::move(reply.payload);
    return BCE_OK;
}

long TcpPrinter::sendBidi(short appId, unsigned int netType, unsigned short requestCode, void* reply,
                          unsigned long* replyLength, const void* requestData, unsigned long requestLength) {
    if (requestLength > kvwire::kMaxPayload - 64) return BCE_E_INVALID;
    kvwire::SendBidiRequest request;
    request.appId = appId;
    request.netType = netType;
    request.code = requestCode;
    request.capacity = static_cast<uint32_t>(std::min<unsigned long>(*replyLength, 0xFFFFFFFFul));
    if (requestLength) {
        auto* p = static_cast<const uint8_t*>(requestData);
        request.data.assign(p, p + requestLength);
    }
    kvwire::Bytes payload;
    long rc = call(kvwire::kSendBidi, kvwire::encode(request), &payload);
    if (rc != BCE_OK) return rc;
    kvwire::DataReply answer;
    if (!kvwire::decode(payload, &answer) || answer.data.size() > request.capacity) return BCE_E_BAD_REPLY;
    if (!answer.data.empty()) std::memcpy(reply, answer.data.data(), answer.data.size());
    if (answer.rc == BCE_OK || answer.rc == BCE_E_NO_MEMORY) *replyLength = answer.length;
    return answer.rc;
}

long TcpPrinter::queryAlerts(short appId, unsigned short alertId, int flag, void* buffer, unsigned long* length) {
    kvwire::QueryAlertRequest request;
    request.appId = appId;
    request.alertId = alertId;
    request.flag = flag;
    request.capacity = static_cast<uint32_t>(std::min<unsigned long>(*length, 0xFFFFFFFFul));
    kvwire::Bytes payload;
    long rc = call(kvwire::kQueryAlert, kvwire::encode(request), &payload);
    if (rc != BCE_OK) return rc;
    kvwire::DataReply answer;
    if (!kvwire::decode(payload, &answer) || answer.data.size() > request.capacity) return BCE_E_BAD_REPLY;
    if (!answer.data.empty()) std::memcpy(buffer, answer.data.data(), answer.data.size());
    if (answer.rc == BCE_OK) *length = answer.length;
    return answer.rc;
}

long TcpPrinter::getPrtInfo(PRTINFO* info, int refresh) {
    kvwire::Bytes payload;
    long rc = call(kvwire::kGetPrtInfo, kvwire::encode(kvwire::PrtInfoRequest{refresh}), &payload);
    if (rc != BCE_OK) return rc;
    kvwire::PrtInfoReply answer;
    if (!kvwire::decode(payload, &answer)) return BCE_E_BAD_REPLY;
    if (answer.rc == BCE_OK) *info = answer.info;
    return answer.rc;
}

long TcpPrinter::getPrinterAddrEx(unsigned int netType, NETADDRESS_LEVEL2* address, int level) {
    kvwire::Bytes payload;
    long rc = call(kvwire::kGetAddress, kvwire::encode(kvwire::AddressRequest{netType, level}), &payload);
    if (rc != BCE_OK) return rc;
    kvwire::AddressReply answer;
    if (!kvwire::decode(payload, &answer)) return BCE_E_BAD_REPLY;
    if (answer.rc == BCE_OK) *address = answer.address;
    return answer.rc;
}

long TcpPrinter::getPrinterName(unsigned int netType, char* name, char* address) {
    kvwire::Bytes payload;
    long rc = call(kvwire::kGetName, kvwire::encode(kvwire::NameRequest{netType}), &payload);
    if (rc != BCE_OK) return rc;
    kvwire::NameReply answer;
    if (!kvwire::decode(payload, &answer)) return BCE_E_BAD_REPLY;
    if (answer.rc == BCE_OK) {
        std::snprintf(name, 80, "%s", answer.name.c_str());
        std::snprintf(address, 80, "%s", answer.address.c_str());
    }
    return answer.rc;
}

}  // namespace zorbce

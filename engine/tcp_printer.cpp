#include "tcp_printer.h"

#include <algorithm>
#include <cerrno>
#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <memory>
#include <new>

#include "io_loop.h"
#include "wire/socket.h"

namespace zorbce {
namespace {

using kvwire::Bytes;
using kvwire::Frame;

bool parseMs(const std::string& text, int* ms) {
    if (text.empty() || text.size() > 9) return false;
    for (char c : text)
        if (c < '0' || c > '9') return false;
    *ms = std::atoi(text.c_str());
    return *ms > 0;
}

// 0 when `reply` answers a request of message `type`; the server's refusal
// when it is an error frame; else -2.
long replyCode(const Frame& reply, uint8_t type) {
    if (reply.type == kvwire::kError) {
        kvwire::ErrorReply error;
        return kvwire::decode(reply.payload, &error) && error.rc < 0 ? long{error.rc} : long{BCE_E_BAD_REPLY};
    }
    return reply.type == (type | kvwire::kReplyBit) ? BCE_OK : BCE_E_BAD_REPLY;
}

// The result of a data reply (of a bidi request or an alert read), its bytes
// in `answer`. Bytes beyond the request's capacity, bytes with a failure, and
// a length that disagrees with the bytes carried make it -2: a request's reply
// is carried whole, alert data up to the capacity.
long takeData(const Frame& reply, uint8_t type, uint32_t capacity, kvwire::DataReply* answer) {
    if (long rc = replyCode(reply, type); rc != BCE_OK) return rc;
    if (!kvwire::decode(reply.payload, answer) || answer->data.size() > capacity) return BCE_E_BAD_REPLY;
    const size_t carried = answer->data.size();
    if (answer->rc != BCE_OK) return carried == 0 ? long{answer->rc} : long{BCE_E_BAD_REPLY};
    const size_t claimed = type == kvwire::kQueryAlert ? std::min<size_t>(answer->length, capacity) : answer->length;
    return carried == claimed ? BCE_OK : BCE_E_BAD_REPLY;
}

uint32_t capacityOf(unsigned long size) { return static_cast<uint32_t>(std::min<unsigned long>(size, 0xFFFFFFFFul)); }

// The drive of the calling thread, while it runs TcpPrinter::runAsync.
thread_local LinkDrive* t_drive = nullptr;
thread_local const TcpLink* t_driven = nullptr;   // the link of t_drive

// An asynchronous call: its data reply goes to the host's completion, or,
// for a call of a drive, is held for the drive's thread to complete.
class AsyncCall final : public LinkCall {
public:
    AsyncCall(uint8_t type, uint32_t capacity, BceCompletion done, void* context)
        : m_type(type), m_capacity(capacity), m_done(done), m_context(context) {}

    void finish(long rc, Frame& reply) override {
        if (waiter == nullptr) return complete(rc, reply);
        m_rc = rc;
        m_reply = std::move(reply);
        static_cast<LinkDrive*>(waiter)->hold(this);
    }

    // A held call, on its drive's thread.
    void completeHeld() { complete(m_rc, m_reply); }

private:
    void complete(long rc, Frame& reply) {
        kvwire::DataReply answer;
        if (rc == BCE_OK) {
            try {
                rc = takeData(reply, m_type, m_capacity, &answer);
            } catch (const std::bad_alloc&) {
                rc = BCE_E_NO_MEMORY;
            }
        }
        // What the synchronous call reports: the length with the bytes, and
        // the length a reply needed with -18.
        bool hasLength = rc == BCE_OK || (rc == BCE_E_NO_MEMORY && m_type == kvwire::kSendBidi);
        std::unique_ptr<AsyncCall> last(this);
        try {
            m_done(m_context, rc, rc == BCE_OK ? answer.data.data() : nullptr, hasLength ? answer.length : 0);
        } catch (...) {
            // A completion must not throw; the I/O thread carries on all the same.
        }
    }

    uint8_t m_type;
    uint32_t m_capacity;
    BceCompletion m_done;
    void* m_context;
    long m_rc = BCE_OK;
    Frame m_reply;
};

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
    if (address->printer.size() > kvwire::kMaxText) {
        *error = "the printer name in the URI is longer than " + std::to_string(kvwire::kMaxText) + " bytes";
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

TcpPrinter::TcpPrinter(TcpAddress address) : m_link(std::make_shared<TcpLink>(std::move(address), this)) {}

TcpPrinter::~TcpPrinter() { m_link->close(); }

std::string TcpPrinter::lastFailure() const { return m_link->lastFailure(); }

long TcpPrinter::connect() {
    if (IoLoop::onIoThread()) return BCE_E_INVALID;   // it would wait for itself
    return m_link->connect();
}

long TcpPrinter::exchange(uint8_t type, const Bytes& payload, Frame* reply) {
    if (IoLoop::onIoThread()) return BCE_E_INVALID;
    long rc = m_link->exchange(type, payload, reply);
    return rc == BCE_OK ? replyCode(*reply, type) : rc;
}

long TcpPrinter::startAsync(uint8_t type, const Bytes& payload, uint32_t capacity, BceCompletion done,
                            void* context) {
    auto* call = new (std::nothrow) AsyncCall(type, capacity, done, context);
    if (call == nullptr) return BCE_E_NO_MEMORY;
    LinkDrive* drive = t_driven == m_link.get() ? t_drive : nullptr;
    call->waiter = drive;
    long rc = m_link->start(call, type, payload);
    if (rc != BCE_OK && rc != BCE_E_NO_MEMORY) {
        // Refused at once: the completion still runs later, on the I/O thread or the drive's.
        if (drive) {
            Frame none;
            call->finish(rc, none);
            rc = BCE_OK;
        } else {
            try {
                IoLoop::get().post([call, rc] {
                    Frame none;
                    call->finish(rc, none);
                });
                rc = BCE_OK;
            } catch (const std::bad_alloc&) {
            }
        }
    }
    if (rc != BCE_OK) {
        delete call;
        return BCE_E_NO_MEMORY;
    }
    if (drive) ++drive->outstanding;
    return BCE_OK;
}

long TcpPrinter::runAsync(void (*start)(void*), void* context) {
    if (IoLoop::onIoThread() || t_drive != nullptr) return BCE_E_INVALID;   // on the I/O thread, or nested
    LinkDrive drive;
    t_drive = &drive;
    t_driven = m_link.get();
    try {
        start(context);
    } catch (...) {
        // the host's start must not throw; its calls made so far are seen through
    }
    while (drive.outstanding > 0) {
        m_link->writeHeld(drive);
        m_link->await(drive);
        for (LinkCall* call = drive.takeHeld(); call != nullptr;) {
            LinkCall* next = call->nextHeld;
            --drive.outstanding;
            static_cast<AsyncCall*>(call)->completeHeld();   // may start more calls of the drive
            call = next;
        }
    }
    m_link->leave(drive);
    t_drive = nullptr;
    t_driven = nullptr;
    return BCE_OK;
}

namespace {

kvwire::SendBidiRequest bidiRequest(short appId, unsigned int netType, unsigned short requestCode,
                                    const void* requestData, unsigned long requestLength, unsigned long capacity) {
    kvwire::SendBidiRequest request;
    request.appId = appId;
    request.netType = netType;
    request.code = requestCode;
    request.capacity = capacityOf(capacity);
    if (requestLength) {
        auto* p = static_cast<const uint8_t*>(requestData);
        request.data.assign(p, p + requestLength);
    }
    return request;
}

// The largest request data a frame carries with the rest of its request.
constexpr unsigned long kMaxRequestData = kvwire::kMaxPayload - 64;

}  // namespace

long TcpPrinter::sendBidi(short appId, unsigned int netType, unsigned short requestCode, void* reply,
                          unsigned long* replyLength, const void* requestData, unsigned long requestLength) {
    if (requestLength > kMaxRequestData) return BCE_E_INVALID;
    auto request = bidiRequest(appId, netType, requestCode, requestData, requestLength, *replyLength);
    Frame frame;
    long rc = exchange(kvwire::kSendBidi, kvwire::encode(request), &frame);
    if (rc != BCE_OK) return rc;
    kvwire::DataReply answer;
    rc = takeData(frame, kvwire::kSendBidi, request.capacity, &answer);
    if (rc == BCE_OK && !answer.data.empty()) std::memcpy(reply, answer.data.data(), answer.data.size());
    if (rc == BCE_OK || rc == BCE_E_NO_MEMORY) *replyLength = answer.length;
    return rc;
}

long TcpPrinter::queryAlerts(short appId, unsigned short alertId, int flag, void* buffer, unsigned long* length) {
    kvwire::QueryAlertRequest request{appId, alertId, flag, capacityOf(*length)};
    Frame frame;
    long rc = exchange(kvwire::kQueryAlert, kvwire::encode(request), &frame);
    if (rc != BCE_OK) return rc;
    kvwire::DataReply answer;
    rc = takeData(frame, kvwire::kQueryAlert, request.capacity, &answer);
    if (rc == BCE_OK && !answer.data.empty()) std::memcpy(buffer, answer.data.data(), answer.data.size());
    if (rc == BCE_OK) *length = answer.length;
    return rc;
}

long TcpPrinter::sendBidiAsync(short appId, unsigned int netType, unsigned short requestCode,
                               const void* requestData, unsigned long requestLength, unsigned long capacity,
                               BceCompletion done, void* context) {
    if (requestLength > kMaxRequestData) return BCE_E_INVALID;
    try {
        auto request = bidiRequest(appId, netType, requestCode, requestData, requestLength, capacity);
        return startAsync(kvwire::kSendBidi, kvwire::encode(request), request.capacity, done, context);
    } catch (const std::bad_alloc&) {
        return BCE_E_NO_MEMORY;
    }
}

long TcpPrinter::queryAlertsAsync(short appId, unsigned short alertId, int flag, unsigned long capacity,
                                  BceCompletion done, void* context) {
    try {
        kvwire::QueryAlertRequest request{appId, alertId, flag, capacityOf(capacity)};
        return startAsync(kvwire::kQueryAlert, kvwire::encode(request), request.capacity, done, context);
    } catch (const std::bad_alloc&) {
        return BCE_E_NO_MEMORY;
    }
}

long TcpPrinter::getPrtInfo(PRTINFO* info, int refresh) {
    Frame frame;
    long rc = exchange(kvwire::kGetPrtInfo, kvwire::encode(kvwire::PrtInfoRequest{refresh}), &frame);
    if (rc != BCE_OK) return rc;
    kvwire::PrtInfoReply answer;
    if (!kvwire::decode(frame.payload, &answer)) return BCE_E_BAD_REPLY;
    if (answer.rc == BCE_OK) *info = answer.info;
    return answer.rc;
}

long TcpPrinter::getPrinterAddrEx(unsigned int netType, NETADDRESS_LEVEL2* address, int level) {
    Frame frame;
    long rc = exchange(kvwire::kGetAddress, kvwire::encode(kvwire::AddressRequest{netType, level}), &frame);
    if (rc != BCE_OK) return rc;
    kvwire::AddressReply answer;
    if (!kvwire::decode(frame.payload, &answer)) return BCE_E_BAD_REPLY;
    if (answer.rc == BCE_OK) *address = answer.address;
    return answer.rc;
}

long TcpPrinter::getPrinterName(unsigned int netType, char* name, char* address) {
    Frame frame;
    long rc = exchange(kvwire::kGetName, kvwire::encode(kvwire::NameRequest{netType}), &frame);
    if (rc != BCE_OK) return rc;
    kvwire::NameReply answer;
    if (!kvwire::decode(frame.payload, &answer)) return BCE_E_BAD_REPLY;
    if (answer.rc == BCE_OK) {
        std::snprintf(name, 80, "%s", answer.name.c_str());
        std::snprintf(address, 80, "%s", answer.address.c_str());
    }
    return answer.rc;
}

}  // namespace zorbce

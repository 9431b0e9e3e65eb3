#include "printer.h"

#include <cstdio>

#include "core.h"
#include "encoders.h"
#include "profile_writer.h"
#include "trap_hints.h"

namespace kvnet {

NetPrinter::NetPrinter(NetOptions options, const std::string& uri) {
    std::string shown(BceRedactUri(uri.c_str(), nullptr, 0) + 1, '\0');
    shown.resize(BceRedactUri(uri.c_str(), shown.data(), shown.size()));
    m = std::make_shared<Core>(std::move(options), std::move(shown));
    m->owner = this;
    if (m->wants(kSnmp)) {
        std::weak_ptr<Core> weak = m;
        std::string ignored;   // without a listener the printer is polled all the same
        m->trapHints = TrapHints::watch(m->options.host, [weak] {
            if (auto core = weak.lock()) core->hint();
        }, &ignored);
    }
    if (m->options.ustatus && m->wants(kPjl)) Gateway::instance().post([core = m] { core->holdPjlStatus(); });
}

NetPrinter::~NetPrinter() {
    {
        std::lock_guard guard(m->ownerLock);
        m->owner = nullptr;
    }
    m->trapHints.reset();
    Gateway::instance().post([core = m] { core->close(); });
}

long NetPrinter::sendBidi(short, unsigned int, unsigned short requestCode, void* reply, unsigned long* replyLength,
                          const void* requestData, unsigned long requestLength) {
    if (replyLength == nullptr || (requestLength && requestData == nullptr)) return BCE_E_INVALID;
    return m->request(requestCode, static_cast<const uint8_t*>(requestData), requestLength, reply, replyLength);
}

long NetPrinter::sendBidiAsync(short appId, unsigned int netType, unsigned short requestCode, const void* requestData,
                               unsigned long requestLength, unsigned long capacity, BceCompletion done, void* context) {
    if (done == nullptr || (requestLength && requestData == nullptr)) return BCE_E_INVALID;
    // Writes wait for the device, and so do reads PJL may answer (on demand):
    // they go the synchronous way.
    if (!kvsim::isRead(requestCode) || m->pjlMayAnswer(requestCode) || m->pjlStorage(requestCode))
        return BcePrinter::sendBidiAsync(appId, netType, requestCode, requestData, requestLength, capacity, done,
                                         context);
    // A read waits for no one, whatever the thread: a host may ask its next
    // request from a completion, which runs on the loop.
    auto* bytes = static_cast<const uint8_t*>(requestData);
    Pending read{requestCode, kvsim::Bytes(bytes, bytes + requestLength), capacity, done, context};
    {
        std::unique_lock guard(m->lock);
        if (!m->snapshot || Clock::now() - m->snapshotTime >= kMaxAge) {
            m->pending.push_back(std::move(read));
            if (!m->refreshing) {
                std::weak_ptr<Core> weak = m;
                Gateway::instance().post([weak] {
                    if (auto self = weak.lock()) self->startRefresh();
                });
            }
            return BCE_OK;
        }
    }
    m->completePending(read);   // from the fresh snapshot, now
    return BCE_OK;
}

long NetPrinter::queryAlerts(short, unsigned short alertId, int, void* buffer, unsigned long* length) {
    if (length == nullptr) return BCE_E_INVALID;
    std::lock_guard guard(m->lock);
    return m->alerts.read(alertId, buffer, length);
}

long NetPrinter::getPrtInfo(PRTINFO* info, int) {
    if (info == nullptr) return BCE_E_INVALID;
    long rc = BCE_OK;
    auto s = m->answering(&rc);
    if (!s) return rc;
    *info = s->profile.info;
    return BCE_OK;
}

long NetPrinter::getPrinterAddrEx(unsigned int netType, NETADDRESS_LEVEL2* address, int level) {
    if (address == nullptr || level != 2) return BCE_E_INVALID;
    long rc = BCE_OK;
    auto s = m->answering(&rc);
    if (!s) return rc;
    *address = s->profile.netAddress;
    address->ulNetType = netType;
    return BCE_OK;
}

long NetPrinter::getPrinterName(unsigned int netType, char* name, char* address) {
    if (name == nullptr || address == nullptr) return BCE_E_INVALID;
    long rc = BCE_OK;
    auto s = m->answering(&rc);
    if (!s) return rc;
    for (const kvsim::NameEntry& e : s->profile.names) {
        if (e.netType != netType) continue;
        std::snprintf(name, 80, "%s", e.name.c_str());
        std::snprintf(address, 80, "%s", e.address.c_str());
        return BCE_OK;
    }
    return BCE_E_INVALID;
}

std::string NetPrinter::lastFailure() const {
    std::lock_guard guard(m->lock);
    return m->outcome.any() ? std::string() : m->outcome.why;
}

long NetPrinter::snapshotProfile(std::string* json) {
    if (json == nullptr) return BCE_E_INVALID;
    long rc = BCE_OK;
    auto s = m->answering(&rc);
    if (!s) return rc;
    *json = kvsim::profileToJson(s->profile, m->shownUri);
    return BCE_OK;
}

}  // namespace kvnet

#include "scripted_printer.h"

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <stdexcept>

namespace kvtest {

Answer reply(const ByteVec& afterStrip) {
    Answer a;
    a.reply.assign(afterStrip.size() + 1, 0x00);
    std::copy(afterStrip.begin(), afterStrip.end(), a.reply.begin() + 1);
    return a;
}

Answer rawReply(const ByteVec& bytes) { return Answer{0, bytes, std::nullopt}; }
Answer fail(long rc) { return Answer{rc, {}, std::nullopt}; }

ByteVec take(void* data, unsigned long length) {
    ByteVec out;
    if (data) out.assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + length);
    ::operator delete(data);
    return out;
}

ByteVec readVariable(KVPrtObj& obj, ByteVec id, long* rc) {
    void* value = nullptr;
    unsigned long length = 0;
    long result = obj.bidiReadOMVar(id.data(), &value, &length);
    if (rc) *rc = result;
    return result == 0 ? take(value, length) : ByteVec{};
}

void ScriptedPrinter::answer(unsigned short code, Answer a) {
    std::lock_guard guard(m_lock);
    Script& script = m_answers[code];
    if (script.lastServed) script.queue.clear();
    script.lastServed = false;
    script.queue.push_back(std::move(a));
}

// Every setter and getter of the script and the records holds the lock.
void ScriptedPrinter::setHandler(std::function<Answer(const SentRequest&)> h) {
    std::lock_guard g(m_lock);
    m_handler = std::move(h);
}
void ScriptedPrinter::setDefault(Answer a) { std::lock_guard g(m_lock); m_default = std::move(a); }
void ScriptedPrinter::setAlert(unsigned short alertId, const ByteVec& data, long rc,
                               std::optional<unsigned long> claimedLength) {
    std::lock_guard g(m_lock);
    m_alerts[alertId] = Alert{data, rc, claimedLength};
}
void ScriptedPrinter::setPrtInfo(const PRTINFO& info, long rc) {
    std::lock_guard g(m_lock);
    m_info = info;
    m_infoRc = rc;
}
void ScriptedPrinter::setPrtInfoResult(long rc) { std::lock_guard g(m_lock); m_infoRc = rc; }
void ScriptedPrinter::setName(unsigned int netType, const std::string& name, const std::string& address, long rc) {
    std::lock_guard g(m_lock);
    m_names[netType] = Name{name, address, rc};
}

std::vector<SentRequest> ScriptedPrinter::requests() const { std::lock_guard g(m_lock); return m_requests; }
size_t ScriptedPrinter::requestCount() const { std::lock_guard g(m_lock); return m_requests.size(); }
SentRequest ScriptedPrinter::lastRequest() const {
    std::lock_guard g(m_lock);
    if (m_requests.empty()) throw std::logic_error("no request was sent");
    return m_requests.back();
}
std::vector<unsigned short> ScriptedPrinter::alertQueries() const { std::lock_guard g(m_lock); return m_alertQueries; }
std::vector<int> ScriptedPrinter::alertFlags() const { std::lock_guard g(m_lock); return m_alertFlags; }
std::vector<int> ScriptedPrinter::prtInfoRefreshes() const { std::lock_guard g(m_lock); return m_infoRefreshes; }
std::vector<unsigned int> ScriptedPrinter::nameQueries() const { std::lock_guard g(m_lock); return m_nameQueries; }
void ScriptedPrinter::clearRecords() {
    std::lock_guard g(m_lock);
    m_requests.clear();
    m_alertQueries.clear();
    m_alertFlags.clear();
    m_infoRefreshes.clear();
    m_nameQueries.clear();
}

long ScriptedPrinter::sendBidi(short appId, unsigned int netType, unsigned short requestCode, void* replyBuffer,
                               unsigned long* replyLength, const void* requestData, unsigned long requestLength) {
    SentRequest sent;
    sent.appId = appId;
    sent.netType = netType;
    sent.code = requestCode;
    if (requestData && requestLength)
        sent.data.assign(static_cast<const uint8_t*>(requestData),
                         static_cast<const uint8_t*>(requestData) + requestLength);
    sent.capacity = *replyLength;

    Answer a;
    std::function<Answer(const SentRequest&)> handler;
    {
        std::lock_guard guard(m_lock);
        m_requests.push_back(sent);
        handler = m_handler;
        if (!handler) {
            auto it = m_answers.find(requestCode);
            if (it == m_answers.end() || it->second.queue.empty()) {
                a = m_default;
            } else {
                Script& script = it->second;
                a = script.queue.front();
                if (script.queue.size() > 1)
                    script.queue.pop_front();
                else
                    script.lastServed = true;
            }
        }
    }
    if (handler) a = handler(sent);
    if (a.rc != 0) return a.rc;
    unsigned long capacity = *replyLength;
    if (capacity == 0) {   // no reply wanted
        *replyLength = 0;
        return 0;
    }
    if (a.reply.size() > capacity && !a.claimedLength) {
        *replyLength = a.reply.size();   // the length it needs, as the engine reports it
        return -18;
    }
    size_t copy = std::min<size_t>(a.reply.size(), capacity);
    if (copy) std::memcpy(replyBuffer, a.reply.data(), copy);
    *replyLength = a.claimedLength ? *a.claimedLength : a.reply.size();
    return 0;
}

long ScriptedPrinter::queryAlerts(short, unsigned short alertId, int flag, void* buffer, unsigned long* length) {
    std::lock_guard guard(m_lock);
    m_alertQueries.push_back(alertId);
    m_alertFlags.push_back(flag);
    auto it = m_alerts.find(alertId);
    if (it == m_alerts.end()) return -3;
    const Alert& alert = it->second;
    if (alert.rc != 0) return alert.rc;
    size_t copy = std::min<size_t>(alert.data.size(), *length);
    if (copy) std::memcpy(buffer, alert.data.data(), copy);
    *length = alert.claimedLength ? *alert.claimedLength : alert.data.size();
    return 0;
}

long ScriptedPrinter::getPrtInfo(PRTINFO* info, int refresh) {
    std::lock_guard guard(m_lock);
    m_infoRefreshes.push_back(refresh);
    if (m_infoRc != 0) return m_infoRc;
    *info = m_info;
    return 0;
}

long ScriptedPrinter::getPrinterAddrEx(unsigned int, NETADDRESS_LEVEL2* address, int) {
    *address = {};   // the simulated printer's addresses are checked by the round trip
    return 0;
}

long ScriptedPrinter::getPrinterName(unsigned int netType, char* name, char* address) {
    std::lock_guard guard(m_lock);
    m_nameQueries.push_back(netType);
    auto it = m_names.find(netType);
    if (it == m_names.end()) return -3;
    if (it->second.rc != 0) return it->second.rc;
    std::snprintf(name, 80, "%s", it->second.name.c_str());
    std::snprintf(address, 80, "%s", it->second.address.c_str());
    return 0;
}

AttachedPrinter::AttachedPrinter() {
    if (BceAttachPrinter(printer, &handle) != 0) throw std::runtime_error("BceAttachPrinter failed");
}

AttachedPrinter::~AttachedPrinter() { BceClosePrinter(handle); }

}  // namespace kvtest

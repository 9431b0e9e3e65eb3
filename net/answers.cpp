// A net:// printer's requests: reads answered from a fresh snapshot through
// the simulator's encoders, writes sent to the device (the variables the
// map carries in SNMP objects, job deletion over IPP) or kept by the backend (the host page count's
// base, the variables only the library uses).
#include <algorithm>
#include <functional>

#include "alert_data.h"
#include "core.h"
#include "encoders.h"
#include "pjl_variables.h"
#include "kvprtobj/bidicodes.h"
#include "snmp/oids.h"
#include "text.h"

namespace kvnet {
namespace {

using kvsim::Bytes;
using kvsim::deliverReply;
using snmp::operator+;

// How long a synchronous request waits for a refresh, in time-outs: a first
// contact walks every table, each exchange with its own time-out.
constexpr unsigned kRefreshTimeouts = 8;

const snmp::Oid kConsoleDisableColumn = snmp::oid::column(snmp::oid::prtGeneralEntry, snmp::oid::prtConsoleDisable);
// Panel button of the library's own press after a lock change.
constexpr uint8_t kLockButton = 0x40;

uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

}  // namespace

// The code a request gets when the snapshot cannot answer it.
long NetPrinter::Core::unanswered(const Outcome& o) const {
    if (o.any()) return BCE_E_INVALID;
    if (!(wants(kSnmp) || wants(kIpp))) return o.pjl != BCE_E_NOT_SUPPORTED ? o.pjl : BCE_E_INVALID;
    for (long rc : {o.snmp, o.ipp})
        if (rc == BCE_E_BAD_REPLY) return rc;
    if (wants(kSnmp) && o.snmp != BCE_E_CHANNEL_DOWN) return o.snmp;
    return wants(kIpp) ? o.ipp : o.snmp;
}

// A snapshot fresh enough to answer from, waiting for a refresh when the
// one held is stale. Null with `rc` when none came in time.
std::shared_ptr<const Snapshot> NetPrinter::Core::answering(long* rc) {
    if (Gateway::onThread()) {
        *rc = BCE_E_INVALID;
        return nullptr;
    }
    Outcome o;
    auto s = fresh(&o, rc);
    if (s && !o.any()) {
        *rc = unanswered(o);
        return nullptr;
    }
    return s;
}

std::shared_ptr<const Snapshot> NetPrinter::Core::fresh(Outcome* o, long* rc) {
    std::unique_lock guard(lock);
    if (snapshot && Clock::now() - snapshotTime < kMaxAge) {
        *o = outcome;
        return snapshot;
    }
    uint64_t seen = generation;
    if (!refreshing) {
        std::weak_ptr<Core> weak = shared_from_this();
        Gateway::instance().post([weak] {
            if (auto self = weak.lock()) self->startRefresh();
        });
    }
    auto deadline = Clock::now() + std::chrono::milliseconds(options.timeoutMs) * kRefreshTimeouts;
    if (!refreshed.wait_until(guard, deadline, [&] { return generation != seen; })) {
        *rc = BCE_E_TIMEOUT;
        return nullptr;
    }
    *o = outcome;
    return snapshot;
}

long NetPrinter::Core::answerRead(const Snapshot& s, const Outcome& o, unsigned short code, const uint8_t* data, unsigned long length, void* reply, unsigned long* replyLength) {
    if (!s.answers(code)) return unanswered(o);
    auto answer = kvsim::encodeRead(s.profile, {code, data, length});
    if (!answer) return BCE_E_INVALID;
    return deliverReply(code, *answer, reply, replyLength);
}

long NetPrinter::Core::request(unsigned short code, const uint8_t* data, unsigned long length, void* reply, unsigned long* replyLength) {
    if (Gateway::onThread()) return BCE_E_INVALID;   // it would wait for itself
    Outcome o;
    long rc = BCE_OK;
    auto s = fresh(&o, &rc);
    if (!s) return rc;
    if (pjlStorage(code) && !s->answers(code)) return answerPjlStorage(o, code, data, length, reply, replyLength);
    if (pjlAnswers(*s, code, data, length)) return answerPjl(*s, o, code, data, length, reply, replyLength);
    if (kvsim::isRead(code)) return answerRead(*s, o, code, data, length, reply, replyLength);
    if (!o.any()) return unanswered(o);
    return write(*s, code, data, length, reply, replyLength);
}

void NetPrinter::Core::completePending(Pending& p) {
    Outcome o;
    std::shared_ptr<const Snapshot> s;
    {
        std::lock_guard guard(lock);
        o = outcome;
        s = snapshot;
    }
    std::vector<uint8_t> buffer(p.capacity ? p.capacity : 1);
    unsigned long length = p.capacity;
    long rc = s ? answerRead(*s, o, p.code, p.data.data(), p.data.size(), buffer.data(), &length) : unanswered(o);
    try {
        p.done(p.context, rc, rc == BCE_OK ? buffer.data() : nullptr,
               rc == BCE_OK || rc == BCE_E_NO_MEMORY ? length : 0);
    } catch (...) {   // nothing crosses the host's completion
    }
}

// Runs `start` on the loop and waits for the result it reports.
long NetPrinter::Core::onLoop(std::function<void(std::function<void(long)>)> start) {
    struct Wait {
        std::mutex lock;
        std::condition_variable done;
        std::optional<long> rc;
    };
    auto wait = std::make_shared<Wait>();
    Gateway::instance().post([start = std::move(start), wait] {
        start([wait](long rc) {
            std::lock_guard guard(wait->lock);
            wait->rc = rc;
            wait->done.notify_all();
        });
    });
    std::unique_lock guard(wait->lock);
    auto deadline = Clock::now() + std::chrono::milliseconds(options.timeoutMs) * 2;
    if (!wait->done.wait_until(guard, deadline, [&] { return wait->rc.has_value(); })) return BCE_E_TIMEOUT;
    return *wait->rc;
}

// A variable the map carries in an SNMP object, set there; the snapshot
// keeps the value written once the agent took it.
long NetPrinter::Core::setSnmpVariable(const Snapshot& s, const kvsim::PjlVariable& variable, const Bytes& value) {
    if (!wants(kSnmp) || variable.readOnly || kvsim::findVariable(s.profile, variable.id) == nullptr)
        return BCE_E_INVALID;
    snmp::Value v;
    if (variable.snmp == kvsim::SnmpObject::ConsoleDisable) {
        v.type = snmp::Value::Type::Integer;
        v.number = !value.empty() && value[0] != 0 ? snmp::oid::consoleDisabled : snmp::oid::consoleEnabled;
    } else {
        if (!kvsim::pjlText(variable, value)) return BCE_E_INVALID;   // what PJL could not carry either
        v.type = snmp::Value::Type::OctetString;
        v.bytes = toUtf8(std::string(value.begin(), value.end()), kCharsetLatin1);
    }
    const kvsim::SnmpObject object = variable.snmp;
    auto self = shared_from_this();
    long rc = onLoop([self, v, object](std::function<void(long)> done) {
        snmp::Oid cell = snmp::oid::sysContact;
        if (object == kvsim::SnmpObject::ConsoleDisable) {
            auto rows = self->view.indexes(kConsoleDisableColumn);
            if (rows.empty()) return done(BCE_E_INVALID);
            cell = kConsoleDisableColumn + rows.front();
        }
        if (!self->snmpClient) return done(BCE_E_INVALID);
        self->snmpClient->set(cell, v, [self, v, cell, done](snmp::Result r) {
            if (r.rc == BCE_OK) self->view.put(cell, v);
            done(r.rc);
        });
    });
    return rc == BCE_OK ? patchVariable(variable.id, value) : rc;
}

// The snapshot with one variable changed (read-your-write), and its event.
long NetPrinter::Core::patchVariable(uint16_t id, const Bytes& value) {
    {
        std::lock_guard guard(lock);
        if (!snapshot) return BCE_E_INVALID;
        auto next = std::make_shared<Snapshot>(*snapshot);
        bool found = false;
        for (kvsim::Variable& v : next->profile.variables)
            if (v.id == id) {
                v.value = value;
                found = true;
            }
        if (!found) next->profile.variables.push_back({id, value, false});
        snapshot = std::move(next);
    }
    raise({{kvsim::kFamilyVariableEvent, kvsim::variableEventAlert(id, value)}});
    return BCE_OK;
}

long NetPrinter::Core::setLocalVariable(uint16_t id, const Bytes& value) {
    {
        std::lock_guard guard(lock);
        auto it = std::find_if(localVariables.begin(), localVariables.end(),
                               [&](const kvsim::Variable& v) { return v.id == id; });
        if (it == localVariables.end())
            localVariables.push_back({id, value, false});
        else
            it->value = value;
        localChanged = true;
    }
    return patchVariable(id, value);
}

long NetPrinter::Core::cancelJob(const Snapshot& s, uint16_t number) {
    if (!wants(kIpp) || !s.answers(kvbidi::kQueryJobs)) return BCE_E_INVALID;
    auto self = shared_from_this();
    return onLoop([self, number](std::function<void(long)> done) {
        auto id = self->jobNumbers.jobIdOf(number);
        if (!id || !self->ippClient) return done(BCE_E_INVALID);
        self->ippClient->cancelJob(*id, [done](ipp::Result r) { done(r.rc == BCE_OK ? BCE_OK : BCE_E_INVALID); });
    });
}

long NetPrinter::Core::write(const Snapshot& s, unsigned short code, const uint8_t* data, unsigned long length, void* reply, unsigned long* replyLength) {
    switch (code) {
    case kvbidi::kSetOMVar: {
        if (length < 2 || length > 2 + 255) return BCE_E_INVALID;
        uint16_t id = be16(data);
        Bytes value(data + 2, data + length);
        const kvsim::PjlVariable* mapped = kvsim::pjlVariable(id);
        long rc = id == kvsim::kVarTonerPageCount || id == kvsim::kVarPropertyTag ? setLocalVariable(id, value)
                  : mapped && mapped->snmp != kvsim::SnmpObject::None         ? setSnmpVariable(s, *mapped, value)
                                                                               : BCE_E_INVALID;
        if (rc != BCE_OK) return rc;
        return deliverReply(code, {BCE_OK, Bytes{0x00, data[0], data[1]}}, reply, replyLength);
    }
    case kvbidi::kPushButton:
        // The library presses the lock button after changing the lock: the
        // lock itself is already set; other buttons have no standard form.
        if (length != 3 || data[0] != 0 || data[1] != 0 || data[2] != kLockButton) return BCE_E_INVALID;
        return deliverReply(code, {BCE_OK, {}}, reply, replyLength);
    case kvbidi::kResetHostPageCount: {
        if (length != 0) return BCE_E_INVALID;
        auto life = std::find_if(s.profile.pageCounts.begin(), s.profile.pageCounts.end(),
                                 [](const kvsim::PageCount& c) { return c.type == 1; });
        if (life == s.profile.pageCounts.end()) return BCE_E_INVALID;
        std::lock_guard guard(lock);
        hostPageBase = life->count;
        localChanged = true;
        snapshotTime = Clock::time_point();   // the next read rebuilds the counts
        return deliverReply(code, {BCE_OK, {}}, reply, replyLength);
    }
    case kvbidi::kDeleteJob:
    case kvbidi::kDeleteJobFlagged: {
        if (length != 2) return BCE_E_INVALID;
        long rc = cancelJob(s, be16(data));
        return rc == BCE_OK ? deliverReply(code, {BCE_OK, {}}, reply, replyLength) : rc;
    }
    default: return BCE_E_INVALID;
    }
}
}  // namespace kvnet

// KVPrtObjBatch: operations run against replies that arrive asynchronously
// (see the header for the scheme).
#include "kvprtobj/batch.h"

#include <algorithm>
#include <condition_variable>
#include <cstring>
#include <mutex>
#include <new>
#include <optional>
#include <vector>

#include "kvprtobj/helpers.h"
#include "prtobj/internal/transport_rules.h"

namespace {

using Rules = kvpo::TransportRules;
using Bytes = std::vector<unsigned char>;

// One request of an operation and, once it came, its outcome.
struct Exchange {
    bool alert = false;          // an alert read (BceQueryAlerts) rather than a request
    unsigned short code = 0;     // request code, or alert id
    Bytes request;
    short appId = 0;
    unsigned int netType = 0;
    int flag = 0;                // alert reads
    unsigned long capacity = 0;
    int attemptsLeft = 0;        // retries still allowed after a failure
    bool grown = false;          // the buffer grew in the current attempt
    long rc = KVPrtObjBatch::kPending;
    unsigned long length = 0;    // as the engine reported it
    Bytes data;                  // the bytes carried, at most `capacity`
};

struct Op {
    KVPrtObjBatch::Operation run;
    std::vector<Exchange> exchanges;
    long result = KVPrtObjBatch::kPending;
};

// The printer object an operation runs on: requests are answered from the
// operation's exchanges; the first without one is noted and stops the run.
class Replayer : public KVPrtObj {
public:
    Replayer(const KVPrtObj& state, Op& op) : m_op(op) {
        KVPrtObj::operator=(state);
        m_uBidiQueryNetType = state.getBidiQueryNetType();   // not part of the object's assignment
    }

    // The exchange this run noted, if any.
    bool noted() const { return m_stopped; }

    long bidiQuery(unsigned short requestCode, void* requestData, unsigned long requestLength, void** reply,
                   unsigned long* replyLength, int bAllocate, int bForce) override {
        if (m_stopped) return KVPrtObjBatch::kPending;
        if (long refused = Rules::admit(isBidiActive(), bForce)) return refused;
        unsigned long size = 0;
        if (bAllocate) size = Rules::firstCapacity(*replyLength);
        if (m_cursor == m_op.exchanges.size()) {
            Exchange e;
            e.code = requestCode;
            auto* p = static_cast<const unsigned char*>(requestData);
            if (requestLength) e.request.assign(p, p + requestLength);
            e.appId = m_sBceAppId;
            e.netType = Rules::netType(*this);
            e.capacity = bAllocate ? size : 0;
            e.attemptsLeft = Rules::retries(m_nBidiRetryCount);
            return note(std::move(e));
        }
        const Exchange& e = m_op.exchanges[m_cursor++];
        long rc = e.alert || e.code != requestCode ? long{BCE_E_INVALID} : e.rc;
        if (bAllocate) {
            // The caller owns the buffer whatever the result, as with the engine's transport.
            *reply = kvPrtObjNew(std::max<unsigned long>(size, e.data.size()));
            if (*reply == nullptr) return BCE_E_NO_MEMORY;
            if (!e.data.empty()) std::memcpy(*reply, e.data.data(), e.data.size());
            unsigned long length = e.length;
            rc = Rules::finishReply(rc, *reply, &length, e.capacity);
            if (rc == BCE_OK) *replyLength = length;
        }
        moveBidiFlag(rc, bForce);
        return rc;
    }

protected:
    long bidiQueryAlert(unsigned short alertId, unsigned long, void** data, unsigned long* length,
                        int flag) override {
        if (m_stopped) return KVPrtObjBatch::kPending;
        if (m_cursor == m_op.exchanges.size()) {
            Exchange e;
            e.alert = true;
            e.code = alertId;
            e.appId = m_sBceAppId;
            e.flag = flag;
            e.capacity = kAlertBufferSize;
            return note(std::move(e));
        }
        const Exchange& e = m_op.exchanges[m_cursor++];
        if (!e.alert || e.code != alertId) return BCE_E_INVALID;
        *data = nullptr;
        *length = e.rc == BCE_OK ? e.length : kAlertBufferSize;
        if (!Rules::alertFits(e.rc, e.length)) return e.rc;
        *data = kvPrtObjNew(e.length);
        if (*data == nullptr) return BCE_E_NO_MEMORY;
        if (e.length) std::memcpy(*data, e.data.data(), e.length);
        return BCE_OK;
    }

private:
    long note(Exchange e) {
        m_op.exchanges.push_back(std::move(e));
        m_stopped = true;
        return KVPrtObjBatch::kPending;
    }

    Op& m_op;
    size_t m_cursor = 0;
    bool m_stopped = false;
};

}  // namespace

class KVPrtObjBatch::Impl : public std::enable_shared_from_this<KVPrtObjBatch::Impl> {
public:
    explicit Impl(KVPrtObj& printer) : m_printer(printer) {}

    size_t add(Operation operation) {
        std::lock_guard guard(m_lock);
        m_ops.push_back(Op{std::move(operation), {}, kPending});
        return m_ops.size() - 1;
    }

    size_t size() {
        std::lock_guard guard(m_lock);
        return m_ops.size();
    }

    long result(size_t index) {
        std::lock_guard guard(m_lock);
        return index < m_ops.size() ? m_ops[index].result : BCE_E_INVALID;
    }

    void start(std::function<void()> done) {
        auto self = shared_from_this();
        std::vector<Sent> sends;
        {
            std::unique_lock guard(m_lock);
            m_finished.wait(guard, [&] { return !m_running; });
            m_running = true;
            m_done = std::move(done);
            m_state = m_printer;
            m_state.setBidiQueryNetType(m_printer.getBidiQueryNetType());
            m_handle = m_printer.getBCEHandle();
            m_unfinished = m_ops.size();
            for (size_t i = 0; i < m_ops.size(); ++i) {
                m_ops[i].exchanges.clear();
                m_ops[i].result = kPending;
                if (auto s = step(i)) sends.push_back(*s);
            }
            ++m_starting;   // no finish until every first request is out
        }
        for (const Sent& s : sends) send(s);
        std::unique_lock guard(m_lock);
        --m_starting;
        finishIfDone(guard);
    }

    unsigned short handle() const { return m_printer.getBCEHandle(); }

    void wait() {
        std::unique_lock guard(m_lock);
        m_finished.wait(guard, [&] { return !m_running; });
    }

private:
    struct Sent {
        size_t op, exchange;
    };
    struct Context {
        std::shared_ptr<Impl> batch;
        Sent sent;
    };

    // Runs operation `i` on the current state: the request it still needs,
    // or none when it finished (its result kept, its state taken over).
    std::optional<Sent> step(size_t i) {
        Op& op = m_ops[i];
        Replayer object(m_state, op);
        long rc;
        try {
            rc = op.run(object);
        } catch (const std::bad_alloc&) {
            rc = BCE_E_NO_MEMORY;
        }
        if (object.noted()) return Sent{i, op.exchanges.size() - 1};
        op.result = rc;
        m_state = object;
        --m_unfinished;
        return std::nullopt;
    }

    void send(Sent s) {
        Exchange e;
        {
            std::lock_guard guard(m_lock);
            e = m_ops[s.op].exchanges[s.exchange];   // a copy to send from outside the lock
        }
        auto* context = new (std::nothrow) Context{shared_from_this(), s};
        long rc = BCE_E_NO_MEMORY;
        if (context != nullptr) {
            rc = e.alert ? BceQueryAlertsAsync(e.appId, e.code, m_handle, e.flag, e.capacity, &complete, context)
                         : BceSendBidiAsync(e.appId, m_handle, e.netType, e.code, e.request.data(),
                                            e.request.size(), e.capacity, &complete, context);
            if (rc == BCE_OK) return;
            delete context;
        }
        arrive(s, rc, nullptr, 0);
    }

    static void complete(void* raw, long rc, const void* data, unsigned long length) {
        auto* context = static_cast<Context*>(raw);
        std::shared_ptr<Impl> self = std::move(context->batch);
        Sent s = context->sent;
        delete context;
        self->arrive(s, rc, data, length);
    }

    // A reply (or failure) for exchange `s`: retry, or run the operation on.
    void arrive(Sent s, long rc, const void* data, unsigned long length) {
        std::unique_lock guard(m_lock);
        Exchange& e = m_ops[s.op].exchanges[s.exchange];
        const bool grow = !e.alert && e.capacity > 0 && Rules::grows(rc, e.capacity, e.grown);
        if (grow || (rc != BCE_OK && !e.alert && e.attemptsLeft > 0)) {
            // Longer than the buffer: asked again with a larger one, on the
            // object's steps, skipping those the length the engine reports
            // shows too small. Otherwise a retry, while the retry count allows,
            // from the buffer the last attempt grew to.
            if (grow) {
                e.capacity = Rules::nextCapacity(e.capacity, length);
                e.grown = true;
            } else {
                --e.attemptsLeft;
                e.grown = false;
            }
            guard.unlock();
            send(s);
            return;
        }
        e.rc = rc;
        e.length = rc == BCE_OK && data == nullptr ? 0 : length;   // nothing carried: an empty reply
        if (data != nullptr) {
            auto* p = static_cast<const unsigned char*>(data);
            e.data.assign(p, p + std::min(length, e.capacity));
        }
        auto next = step(s.op);
        if (next) {
            guard.unlock();
            send(*next);
            return;
        }
        finishIfDone(guard);
    }

    void finishIfDone(std::unique_lock<std::mutex>& guard) {
        if (!m_running || m_unfinished != 0 || m_starting != 0) return;
        m_printer = m_state;
        m_printer.setBidiQueryNetType(m_state.getBidiQueryNetType());
        std::function<void()> done = std::move(m_done);
        m_done = nullptr;
        m_running = false;
        guard.unlock();
        m_finished.notify_all();   // unlocked: a waiter wakes to a free lock (the caller holds this Impl)
        if (done) done();   // last: `done` may destroy the batch
    }

    KVPrtObj& m_printer;
    std::mutex m_lock;
    std::condition_variable m_finished;
    std::vector<Op> m_ops;
    KVPrtObj m_state;           // the printer object's state as the finished operations left it
    unsigned short m_handle = 0;
    size_t m_unfinished = 0;
    int m_starting = 0;
    bool m_running = false;
    std::function<void()> m_done;
};

KVPrtObjBatch::KVPrtObjBatch(KVPrtObj& printer) : m(std::make_shared<Impl>(printer)) {}

KVPrtObjBatch::~KVPrtObjBatch() {
    if (m) m->wait();
}

size_t KVPrtObjBatch::add(Operation operation) { return m->add(std::move(operation)); }
size_t KVPrtObjBatch::size() const { return m->size(); }
void KVPrtObjBatch::start(std::function<void()> done) { m->start(std::move(done)); }

void KVPrtObjBatch::run() {
    // The waiting thread does the engine's part itself: the requests go out
    // together, and it reads and decodes their replies, with no hand-over to
    // the I/O thread and back.
    auto start = [](void* impl) { static_cast<Impl*>(impl)->start(nullptr); };
    if (BceRunAsync(m->handle(), start, m.get()) != BCE_OK) m->start(nullptr);
    m->wait();
}

long KVPrtObjBatch::result(size_t index) const { return m->result(index); }

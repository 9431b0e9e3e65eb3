// Client (client.h): a queue of requests (requests.h) sent in order through
// one session (session.h), one PDU in flight at a time.
#include "client.h"

#include <deque>

#include <asio/post.hpp>

#include "gateway.h"
#include "requests.h"
#include "session.h"

namespace kvnet::snmp {
namespace {

class ClientImpl final : public Client, public std::enable_shared_from_this<ClientImpl> {
public:
    explicit ClientImpl(const NetOptions& options)
        : m_options(options), m_session(std::make_shared<Session>(options)) {}
    ~ClientImpl() override { m_session->close(); }

    void get(std::vector<Oid> oids, Callback done) override {
        onLoop([oids = std::move(oids), done = std::move(done)](ClientImpl& self) mutable {
            self.enqueue(makeGet(std::move(oids)), std::move(done));
        });
    }

    void walk(Oid root, WalkLimits limits, Callback done) override {
        onLoop([root = std::move(root), limits, done = std::move(done)](ClientImpl& self) mutable {
            self.enqueue(makeWalk(std::move(root), limits, self.m_options.snmpVersion, &self.m_bulkRefused),
                         std::move(done));
        });
    }

    void set(Oid id, Value value, Callback done) override {
        onLoop([id = std::move(id), value = std::move(value), done = std::move(done)](ClientImpl& self) mutable {
            const bool communities = self.m_options.snmpVersion != SnmpVersion::V3;
            std::string community = communities ? self.m_options.credentials.writeCommunity : std::string();
            self.enqueue(makeSet(std::move(id), std::move(value), std::move(community)), std::move(done));
        });
    }

    void close() override {
        onLoop([](ClientImpl& self) {
            self.m_queue.clear();
            self.m_busy = false;
            self.m_session->close();
        });
    }

private:
    struct Queued {
        std::unique_ptr<Request> request;
        Callback done;
    };

    // Runs `work` on the loop: at once when called there, else posted.
    template <class Work>
    void onLoop(Work&& work) {
        if (Gateway::onThread()) return work(*this);
        Gateway::instance().post([weak = weak_from_this(), work = std::forward<Work>(work)]() mutable {
            if (auto self = weak.lock()) work(*self);
        });
    }

    void enqueue(std::unique_ptr<Request> request, Callback done) {
        m_queue.push_back({std::move(request), std::move(done)});
        pump();
    }

    // Sends the front request's next PDU, or ends the requests that are over.
    void pump() {
        if (m_pumping) return;   // a callback queued more: the outer pump goes on
        auto keep = shared_from_this();   // a callback may drop the last reference
        m_pumping = true;
        while (!m_busy && !m_queue.empty()) {
            if (PduPtr pdu = m_queue.front().request->next()) {
                m_busy = true;
                m_session->send(std::move(pdu), [weak = weak_from_this()](Reply reply) {
                    if (auto self = weak.lock()) self->onReply(reply);
                });
                break;
            }
            Queued over = std::move(m_queue.front());
            m_queue.pop_front();
            try {
                over.done(over.request->takeResult());
            } catch (...) {   // the caller's failure must not stall the queue
            }
        }
        m_pumping = false;
    }

    void onReply(const Reply& reply) {
        m_busy = false;
        if (m_queue.empty()) return;
        m_queue.front().request->onReply(reply);
        pump();
    }

    NetOptions m_options;
    std::shared_ptr<Session> m_session;
    std::deque<Queued> m_queue;
    bool m_busy = false;
    bool m_pumping = false;
    bool m_bulkRefused = false;   // the agent refused GETBULK once: walks use GETNEXT
};

}  // namespace

std::shared_ptr<Client> Client::create(const NetOptions& options) {
    // Its session and timers belong to the loop: it is deleted there.
    return std::shared_ptr<ClientImpl>(new ClientImpl(options), [](ClientImpl* client) {
        if (Gateway::onThread()) delete client;
        else Gateway::instance().post([client] { delete client; });
    });
}

}  // namespace kvnet::snmp

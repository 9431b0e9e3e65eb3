#include "client.h"

#include <climits>
#include <new>

#include "codec.h"
#include "gateway.h"
#include "http.h"
#include "kvprtobj/zorbce.h"

namespace kvnet::ipp {
namespace {

// requesting-user-name when the credentials name no IPP user.
constexpr char kDefaultUser[] = "kvprtobj";

// The job attributes the job list is built from.
const std::vector<std::string> kJobAttributes = {
    "job-id",       "job-name",    "job-originating-user-name", "job-state",       "job-state-reasons",
    "job-priority", "job-k-octets", "job-impressions",          "job-impressions-completed", "copies"};

// The response of a whole HTTP exchange, decoded; IPP errors become BCE_E_INVALID.
Result resultOf(http::Outcome outcome, int requestId) {
    Result result;
    if (outcome.rc != 0) {
        result.rc = outcome.rc;
        result.error = std::move(outcome.error);
        return result;
    }
    try {
        const http::Response& received = outcome.response;
        result.rc = codec::decode(received.body, received.untilClose, requestId, &result.response, &result.error);
    } catch (const std::bad_alloc&) {
        result = {BCE_E_NO_MEMORY, {}, "no memory for the response"};
    }
    const int status = result.response.status;
    if (result.rc == 0 && status >= codec::kStatusClientError) {
        result.rc = BCE_E_INVALID;
        result.error = codec::statusName(status);
        if (!result.response.message.empty()) result.error += ": " + result.response.message;
    }
    return result;
}

class ClientImpl : public Client {
public:
    explicit ClientImpl(const NetOptions& options) {
        const bool ipv6 = options.host.find(':') != std::string::npos;
        const std::string host = ipv6 ? "[" + options.host + "]" : options.host;
        m_target.printerUri = "ipp://" + host + ":" + std::to_string(options.ippPort) + options.ippPath;
        m_target.requestId = 0;
        m_target.user = options.credentials.ippUser.empty() ? kDefaultUser : options.credentials.ippUser;
        m_connection = http::Connection::create({options.host, options.ippPort, options.ippPath, options.timeoutMs,
                                                 options.credentials.ippUser, options.credentials.ippPassword});
    }

    ~ClientImpl() override {
        if (Gateway::onThread()) m_connection->close();
        else Gateway::instance().post([connection = m_connection] { connection->close(); });
    }

    void getPrinterAttributes(std::vector<std::string> attributes, Callback done) override {
        exchange([&](const codec::Target& t) { return codec::getPrinterAttributes(t, attributes); }, std::move(done));
    }

    void getJobs(Callback done) override {
        exchange([](const codec::Target& t) { return codec::getJobs(t, kJobAttributes); }, std::move(done));
    }

    void cancelJob(int32_t jobId, Callback done) override {
        exchange([jobId](const codec::Target& t) { return codec::cancelJob(t, jobId); }, std::move(done));
    }

    void close() override {
        *m_closed = true;
        m_connection->close();
    }

private:
    template <class Encode>
    void exchange(Encode encode, Callback done) {
        m_target.requestId = m_target.requestId == INT_MAX ? 1 : m_target.requestId + 1;
        const int requestId = m_target.requestId;
        std::string body = encode(m_target);
        if (body.empty()) {   // libcups could not build it: out of memory
            Gateway::instance().post([closed = m_closed, done = std::move(done)] {
                if (!*closed) done({BCE_E_NO_MEMORY, {}, "cannot encode the request"});
            });
            return;
        }
        m_connection->post(std::move(body), [requestId, done = std::move(done)](http::Outcome outcome) {
            done(resultOf(std::move(outcome), requestId));
        });
    }

    codec::Target m_target;
    std::shared_ptr<http::Connection> m_connection;
    std::shared_ptr<bool> m_closed = std::make_shared<bool>(false);
};

}  // namespace

std::shared_ptr<Client> Client::create(const NetOptions& options) { return std::make_shared<ClientImpl>(options); }

}  // namespace kvnet::ipp

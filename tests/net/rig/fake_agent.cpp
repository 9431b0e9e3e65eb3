#include <array>
#include <asio/ip/udp.hpp>
#include <atomic>
#include <cstdio>
#include <future>

#include "gateway.h"
#include "snmpsim_peer.h"

namespace kvtest {
using kvnet::Gateway;

struct FakeAgent::State : std::enable_shared_from_this<State> {
    explicit State(Answer a)
        : socket(Gateway::instance().context(), {asio::ip::make_address("127.0.0.1"), 0}),
          port(socket.local_endpoint().port()),
          answer(std::move(a)) {}
    void receive() {
        socket.async_receive_from(asio::buffer(buffer), sender, [self = shared_from_this()](auto error, size_t length) {
            if (error) return;
            ++self->requests;
            const std::string reply = self->answer(std::string(self->buffer.data(), length));
            asio::error_code ignored;
            if (!reply.empty()) self->socket.send_to(asio::buffer(reply), self->sender, 0, ignored);
            self->receive();
        });
    }
    asio::ip::udp::socket socket;
    uint16_t port;
    Answer answer;
    std::array<char, 65536> buffer;
    asio::ip::udp::endpoint sender;
    std::atomic<size_t> requests{0};
};

FakeAgent::FakeAgent(Answer answer) : m_state(std::make_shared<State>(std::move(answer))) {
    onLoop([this] { m_state->receive(); });
}

FakeAgent::~FakeAgent() {
    onLoop([this] {
        asio::error_code ignored;
        m_state->socket.close(ignored);
    });
}

uint16_t FakeAgent::port() const { return m_state->port; }
size_t FakeAgent::requests() const { return m_state->requests; }

kvnet::NetOptions FakeAgent::options() const {
    kvnet::NetOptions options;
    options.host = "127.0.0.1";
    options.snmpPort = port();
    options.timeoutMs = 1000;
    return options;
}

void onLoop(const std::function<void()>& work) {
    std::promise<void> done;
    Gateway::instance().post([&] {
        work();
        done.set_value();
    });
    done.get_future().wait();
}

std::string describe(const kvnet::snmp::VarBind& binding) {
    using T = kvnet::snmp::Value::Type;
    static const char* const kTypes[] = {"Integer", "OctetString", "ObjectId", "IpAddress", "Counter32",
                                         "Gauge32", "TimeTicks", "Counter64", "Opaque", "Null",
                                         "noSuchObject", "noSuchInstance", "endOfMibView"};
    const kvnet::snmp::Value& v = binding.value;
    std::string text = kvnet::snmp::oidText(binding.oid) + " = " + kTypes[static_cast<int>(v.type)];
    switch (v.type) {
    case T::Integer: case T::Counter32: case T::Gauge32: case T::TimeTicks: case T::Counter64:
        return text + " " + std::to_string(v.number);
    case T::ObjectId: return text + " " + kvnet::snmp::oidText(v.oid);
    case T::OctetString: case T::Opaque: case T::IpAddress:
        text += " \"";
        for (unsigned char c : v.bytes) {
            char hex[8];
            std::snprintf(hex, sizeof hex, "\\x%02X", c);
            text += c >= 0x20 && c < 0x7F && c != '"' && c != '\\' ? std::string(1, static_cast<char>(c)) : hex;
        }
        return text + "\"";
    default: return text;
    }
}

}  // namespace kvtest

// The trap listener against net-snmp's snmptrap and snmpinform: hints from
// v1 and v2c traps and informs, with their source; nothing from garbage; one
// hint per second per source.
#include <gtest/gtest.h>

#include <asio/ip/udp.hpp>
#include <algorithm>
#include <mutex>
#include <thread>

#include "golden.h"
#include "snmp/traps.h"
#include "snmpsim_peer.h"

namespace kvtest {
namespace {

using namespace kvnet::snmp;

TEST(TrapListener, HintsComeFromTrapsAndInformsOnceASecondPerSource) {
    if (!installed("snmptrap")) GTEST_SKIP() << "snmptrap is not installed (Debian package snmp)";
    std::string error;
    auto listener = TrapListener::start("127.0.0.1:0", &error);
    ASSERT_TRUE(listener) << error;
    const std::string at = "127.0.0.1:" + std::to_string(listener->port());
    EXPECT_EQ(TrapListener::start(at, &error), listener) << "one listener per endpoint";
    std::mutex lock;
    std::vector<std::string> hints;
    listener->addHandler([&](const std::string& source, const Oid& trap) {
        std::lock_guard guard(lock);
        hints.push_back(source + " " + oidText(trap));
    });

    // net-snmp's tools keep their files in `dir`.
    TempDir dir;
    const std::string tool = "SNMP_PERSISTENT_DIR=" + dir.file("") + " SNMPCONFPATH=" + dir.file("") + " MIBS= ";
    const std::string senders[] = {
        "snmptrap -v2c -c public --clientaddr=127.0.0.1 " + at + " '' 1.3.6.1.2.1.43.18.2.0.1 1.3.6.1.2.1.43.18.1.1.2.1.9 i 3",
        "snmptrap -v2c -c public --clientaddr=127.0.0.1 " + at + " '' 1.3.6.1.2.1.43.18.2.0.1",
        "snmptrap -v1 -c public --clientaddr=127.0.0.2 " + at + " 1.3.6.1.4.1.99999 127.0.0.2 6 17 ''",
        // Exits 0 only once the inform is acknowledged.
        "snmpinform -v2c -c public -r 0 -t 3 --clientaddr=127.0.0.3 " + at + " '' 1.3.6.1.6.3.1.1.5.1",
    };
    for (const std::string& sender : senders) EXPECT_EQ(run(tool + sender), 0) << sender;
    asio::io_context context;
    asio::ip::udp::socket garbage(context, asio::ip::udp::v4());
    garbage.send_to(asio::buffer(std::string("\x30\x02\x05\x00 not SNMP")),
                    {asio::ip::make_address("127.0.0.1"), listener->port()});

    for (int tries = 0; tries < 200 && listener->counters().datagrams < 5; ++tries)
        std::this_thread::sleep_for(std::chrono::milliseconds(10));
    onLoop([] {});   // the last datagram's handler is done
    std::lock_guard guard(lock);
    std::sort(hints.begin(), hints.end());
    EXPECT_EQ(hints, (std::vector<std::string>{"127.0.0.1 1.3.6.1.2.1.43.18.2.0.1", "127.0.0.2 1.3.6.1.4.1.99999.0.17",
                                               "127.0.0.3 1.3.6.1.6.3.1.1.5.1"}));
    const TrapListener::Counters counters = listener->counters();
    EXPECT_EQ(counters.datagrams, 5u);
    EXPECT_EQ(counters.dropped, 1u);
    EXPECT_EQ(counters.limited, 1u);
}

TEST(TrapListener, EndpointsAreAddressAndPort) {
    expectGolden(KVTEST_SNMP_GOLDEN "/endpoints.golden", [](const std::string& text) -> std::string {
        asio::ip::udp::endpoint endpoint;
        if (!TrapListener::parseEndpoint(text, &endpoint)) return "refused";
        const std::string address = endpoint.address().to_string();
        return (endpoint.address().is_v6() ? "[" + address + "]" : address) + ":" + std::to_string(endpoint.port());
    });
}

}  // namespace
}  // namespace kvtest

// The SNMP client against snmpsim (data/*.snmprec) and against stand-in
// agents on the loop: what it returns, the result codes of failures, its
// bound on open sockets and its close.
#include <gtest/gtest.h>

#include <atomic>
#include <chrono>
#include <cstdlib>
#include <future>
#include <optional>
#include <thread>

#include "gateway.h"
#include "kvprtobj/zorbce.h"
#include "no_free_descriptors.h"
#include "snmp/client.h"
#include "snmp/convert.h"
#include "snmpsim_peer.h"

namespace kvtest {
namespace {

using namespace kvnet::snmp;
using kvnet::Gateway;
using kvnet::SnmpVersion;
using Clock = std::chrono::steady_clock;

// "OID = Type value", one binding a line; "rc N: error" for a failure.
using kvtest::describe;
std::string describe(const Result& result) {
    if (result.rc != 0) return "rc " + std::to_string(result.rc) + ": " + result.error;
    std::string text;
    for (const auto& binding : result.bindings) text += describe(binding) + "\n";
    return text;
}

// `request` typed RESPONSE with the bindings `fill` adds; empty when it does not parse.
std::string respond(const std::string& request, const std::function<void(netsnmp_pdu* response)>& fill) {
    PduPtr pdu = parseDatagram(reinterpret_cast<const uint8_t*>(request.data()), request.size());
    if (!pdu) return {};
    pdu->command = SNMP_MSG_RESPONSE;
    pdu->errstat = pdu->errindex = 0;
    snmp_free_varbind(pdu->variables);
    pdu->variables = nullptr;
    fill(pdu.get());
    return buildDatagram(pdu.get());
}

// Starts an exchange on the loop and waits for its result (rc 1: no callback within 20 s).
Result await(const std::function<void(Callback)>& start) {
    auto promise = std::make_shared<std::promise<Result>>();
    auto future = promise->get_future();
    Gateway::instance().post([start, promise] { start([promise](Result result) { promise->set_value(std::move(result)); }); });
    if (future.wait_for(std::chrono::seconds(20)) != std::future_status::ready) return Result{1, {}, "no callback"};
    return future.get();
}

// Every session of this binary shares two gateway slots, so that the slot
// bound is met (set before the gateway exists, when the program starts).
const bool kTwoSlots = [] { return ::setenv("KVPRTOBJ_NET_MAX_SOCKETS", "2", 1) == 0; }();

// Objects of data/printer.snmprec.
const Oid kSysDescr = parseOid("1.3.6.1.2.1.1.1.0");
const Oid kSysName = parseOid("1.3.6.1.2.1.1.5.0");   // not recorded
const Oid kSerial = parseOid("1.3.6.1.2.1.43.5.1.1.17.1");
const Oid kConsoleDisable = parseOid("1.3.6.1.2.1.43.5.1.1.13.1");   // writecache
const Oid kBigCounter = parseOid("1.3.6.1.4.1.99999.2.1.0");          // Counter64 2^64-1
const Oid kSupplyLevels = parseOid("1.3.6.1.2.1.43.11.1.1.9.1");      // 61 rows

Result get(Client& client, const std::vector<Oid>& oids) { return await([&](Callback done) { client.get(oids, done); }); }
Result walk(Client& client, const Oid& root, WalkLimits limits = {}) {
    return await([&](Callback done) { client.walk(root, limits, done); });
}
Result set(Client& client, const Oid& id, const Value& value) {
    return await([&](Callback done) { client.set(id, value, done); });
}
long elapsedMs(Clock::time_point since) {
    return std::chrono::duration_cast<std::chrono::milliseconds>(Clock::now() - since).count();
}
size_t slotsInUse() {
    size_t n = 0;
    onLoop([&] { n = Gateway::instance().slotsInUse(); });
    return n;
}

class AgainstSnmpSim : public ::testing::Test {
protected:
    static void SetUpTestSuite() {
        if (!installed("snmpsimd")) return;
        try {
            sim = std::make_unique<SnmpSim>(std::vector<std::string>{KVTEST_SNMP_RECORDINGS});
        } catch (const std::exception& e) {
            failure = e.what();
        }
    }
    static void TearDownTestSuite() { sim.reset(); }
    void SetUp() override {
        if (!failure.empty()) FAIL() << failure;
        if (!sim) GTEST_SKIP() << "snmpsimd is not installed (Debian package snmpsim; CI installs it)";
    }
    // snmpsim's own user, as `change` leaves it; the context name picks the recording.
    static kvnet::NetOptions v3(const std::function<void(kvnet::Credentials&)>& change = [](kvnet::Credentials&) {}) {
        kvnet::Credentials user{.user = "simulator", .authProtocol = "MD5", .authKey = "auctoritas",
                                .privProtocol = "DES", .privKey = "privatus", .context = "printer"};
        change(user);
        return sim->withUsm(user);
    }

    static inline std::unique_ptr<SnmpSim> sim;
    static inline std::string failure;
};

TEST_F(AgainstSnmpSim, GetLeavesMissingObjectsOutOnEveryVersion) {
    const std::string present = "1.3.6.1.2.1.1.1.0 = OctetString \"Test printer, recorded for the SNMP client\"\n"
                                "1.3.6.1.2.1.43.5.1.1.17.1 = OctetString \"SN-0001\"\n";
    const struct {
        SnmpVersion version;
        std::string expected;
    } cases[] = {
        // v1 answers noSuchName for the missing object and for the Counter64 it cannot carry.
        {SnmpVersion::V1, present},
        {SnmpVersion::V2c, present + "1.3.6.1.4.1.99999.2.1.0 = Counter64 9223372036854775807\n"},
    };
    for (const auto& c : cases) {
        auto client = Client::create(sim->options("printer", c.version));
        EXPECT_EQ(describe(get(*client, {kSysDescr, kSysName, kSerial, kBigCounter})), c.expected)
            << "version " << static_cast<int>(c.version);
    }
}

TEST_F(AgainstSnmpSim, WalksASubtreeLongerThanOneBulkOnEveryVersion) {
    for (const kvnet::NetOptions& options : {sim->options("printer", SnmpVersion::V1),
                                             sim->options("printer", SnmpVersion::V2c), v3()}) {
        SCOPED_TRACE("version " + std::to_string(static_cast<int>(options.snmpVersion)));
        auto client = Client::create(options);
        const Result all = walk(*client, kSupplyLevels, {.maxRows = 5000, .maxRepetitions = 25});
        ASSERT_EQ(all.rc, 0) << all.error;
        ASSERT_EQ(all.bindings.size(), 61u);
        EXPECT_EQ(describe(all.bindings.front()), "1.3.6.1.2.1.43.11.1.1.9.1.1 = Integer 99");
        EXPECT_EQ(describe(all.bindings.back()), "1.3.6.1.2.1.43.11.1.1.9.1.61 = Gauge32 7");
        const Result first = walk(*client, kSupplyLevels, {.maxRows = 10, .maxRepetitions = 25});
        EXPECT_EQ(first.bindings.size(), 10u);
    }
}

TEST_F(AgainstSnmpSim, SetsAWritableRowWithTheWriteCommunityAndIsRefusedElsewhere) {
    kvnet::NetOptions writer = sim->options("no-such-community");
    writer.credentials.writeCommunity = "printer";
    auto client = Client::create(writer);
    EXPECT_EQ(describe(set(*client, kConsoleDisable, {Value::Type::Integer, 4})),
              "1.3.6.1.2.1.43.5.1.1.13.1 = Integer 4\n");
    EXPECT_EQ(describe(set(*client, kSerial, {.type = Value::Type::OctetString, .bytes = "x"})),
              "rc -3: noSuchInstance");

    auto reader = Client::create(sim->options("printer"));
    EXPECT_EQ(describe(get(*reader, {kConsoleDisable})), "1.3.6.1.2.1.43.5.1.1.13.1 = Integer 4\n");
    auto v3Writer = Client::create(v3());
    EXPECT_EQ(describe(set(*v3Writer, kConsoleDisable, {Value::Type::Integer, 3})),
              "1.3.6.1.2.1.43.5.1.1.13.1 = Integer 3\n");
}

TEST_F(AgainstSnmpSim, WrongCredentialsAreTimeOutsOnV2cAndRefusalsOnV3) {
    const std::string refused = "rc -3: the agent did not accept the SNMPv3 user, its keys or its security level";
    const struct {
        const char* what;
        kvnet::NetOptions options;
        std::string expected;
    } cases[] = {
        {"a wrong community: snmpsim stays silent", sim->options("no-such-community"), "rc -17: no answer"},
        {"a wrong key, after the right one (net-snmp's user table must not keep that)",
         v3([](kvnet::Credentials& c) { c.authKey = "not-the-key"; }), refused},
        {"a level below the user's", v3([](kvnet::Credentials& c) { c.privProtocol = c.privKey = ""; }), refused},
        {"an unknown protocol", v3([](kvnet::Credentials& c) { c.authProtocol = "MD4"; }),
         "rc -3: unknown auth-protocol (MD5, SHA, SHA-224, SHA-256, SHA-384, SHA-512)"},
    };
    EXPECT_EQ(get(*Client::create(v3()), {kSysDescr}).rc, 0);
    for (const auto& c : cases) {
        const auto start = Clock::now();
        EXPECT_EQ(describe(get(*Client::create(c.options), {kSysDescr})), c.expected) << c.what;
        EXPECT_LT(elapsedMs(start), 2500) << c.what;
    }
}

TEST_F(AgainstSnmpSim, AWalkStopsWhereOidsStopIncreasing) {
    // data/unsorted.snmprec holds rows 1 2 5 3 4 6: the agent goes back after 5.
    auto client = Client::create(sim->options("unsorted"));
    EXPECT_EQ(describe(walk(*client, parseOid("1.3.6.1.2.1.43.18"))),
              "1.3.6.1.2.1.43.18.1.1.2.1.1 = Integer 1\n"
              "1.3.6.1.2.1.43.18.1.1.2.1.2 = Integer 2\n"
              "1.3.6.1.2.1.43.18.1.1.2.1.5 = Integer 5\n");
}

// A table of `rows` integers under 1.3.6.1.4.1.99999.3, answering GETNEXT and
// GETBULK; GETBULK is refused (genErr) or answered tooBig above `mostRepetitions`.
struct TableAgent {
    static inline const Oid kRoot = parseOid("1.3.6.1.4.1.99999.3");
    uint32_t rows = 30;
    long mostRepetitions = 1000;
    bool refuseBulk = false;
    std::vector<long> repetitionsAsked;   // of each GETBULK, on the loop

    std::string answer(const std::string& request) {
        PduPtr asked = parseDatagram(reinterpret_cast<const uint8_t*>(request.data()), request.size());
        if (!asked || asked->variables == nullptr) return {};
        const bool bulk = asked->command == SNMP_MSG_GETBULK;
        const long count = bulk ? asked->max_repetitions : 1;
        if (bulk) repetitionsAsked.push_back(count);
        const Oid from = fromNetsnmp(asked->variables->name, asked->variables->name_length);
        return respond(request, [&](netsnmp_pdu* response) {
            if (bulk && (refuseBulk || count > mostRepetitions)) {
                response->errstat = refuseBulk ? SNMP_ERR_GENERR : SNMP_ERR_TOOBIG;
                return;
            }
            uint32_t next = from.size() == kRoot.size() + 1 && isUnder(from, kRoot) ? from.back() + 1 : 1;
            for (long i = 0; i < count && next <= rows; ++i, ++next)
                addBinding(response, kRoot + Oid{next}, {Value::Type::Integer, next});
            if (next > rows) {
                const std::vector<oid> end = toNetsnmp(kRoot + Oid{next});
                snmp_pdu_add_variable(response, end.data(), end.size(), SNMP_ENDOFMIBVIEW, nullptr, 0);
            }
        });
    }
};

TEST(SnmpClient, BulkWalksHalveAfterTooBigAndFallBackToGetNextWhenRefused) {
    TableAgent tooBig{.mostRepetitions = 4}, refusing{.refuseBulk = true};
    for (TableAgent* table : {&tooBig, &refusing}) {
        FakeAgent agent([table](const std::string& request) { return table->answer(request); });
        auto client = Client::create(agent.options());
        const Result result = walk(*client, TableAgent::kRoot, {.maxRows = 100, .maxRepetitions = 25});
        ASSERT_EQ(result.rc, 0) << result.error;
        EXPECT_EQ(result.bindings.size(), 30u);
        // The client remembers the refusal: its next walk asks no GETBULK.
        EXPECT_EQ(walk(*client, TableAgent::kRoot).bindings.size(), 30u);
    }
    EXPECT_EQ(std::vector<long>(tooBig.repetitionsAsked.begin(), tooBig.repetitionsAsked.begin() + 5),
              (std::vector<long>{25, 12, 6, 3, 3}));
    EXPECT_EQ(refusing.repetitionsAsked, std::vector<long>{25});
}

TEST(SnmpClient, FailuresComeBackAsTheirResultCodes) {
    FakeAgent silent([](const std::string&) { return std::string(); });
    FakeAgent garbage([](const std::string&) { return std::string("\x30\x05\x02\x01\x01\x04\x09", 7); });
    kvnet::NetOptions closed = silent.options();
    closed.snmpPort = freeUdpPort();
    kvnet::NetOptions unresolvable = silent.options();
    unresolvable.host = "no-such-host.invalid";
    const struct {
        const char* what;
        kvnet::NetOptions options;
        long rc;
        long leastMs, mostMs;
        bool noDescriptors = false;   // the process has none left for the session's socket
    } cases[] = {
        {"no answer: two attempts within the time-out", silent.options(), BCE_E_TIMEOUT, 900, 1500},
        {"ICMP port unreachable", closed, BCE_E_CHANNEL_DOWN, 0, 500},
        {"answers that do not parse", garbage.options(), BCE_E_BAD_REPLY, 900, 1500},
        {"a name that does not resolve", unresolvable, BCE_E_CHANNEL_DOWN, 0, 10000},
        {"no descriptor left", silent.options(), BCE_E_NO_RESOURCES, 0, 500, true},
    };
    for (const auto& c : cases) {
        if (c.noDescriptors && !NoFreeDescriptors::kPossible) continue;
        auto client = Client::create(c.options);
        const auto start = Clock::now();
        std::optional<NoFreeDescriptors> starved;
        if (c.noDescriptors) starved.emplace();
        ASSERT_TRUE(!starved || starved->full()) << c.what;
        const Result result = get(*client, {kSysDescr});
        starved.reset();
        EXPECT_EQ(result.rc, c.rc) << c.what << ": " << result.error;
        EXPECT_GE(elapsedMs(start), c.leastMs) << c.what;
        EXPECT_LE(elapsedMs(start), c.mostMs) << c.what;
    }
    EXPECT_EQ(silent.requests(), 2u);   // none without a descriptor
}

TEST(SnmpClient, MoreClientsThanSlotsWaitAndAllFinish) {
    size_t mostSlots = 0;
    FakeAgent agent([&](const std::string& request) {
        mostSlots = std::max(mostSlots, Gateway::instance().slotsInUse());
        return respond(request, [](netsnmp_pdu* response) {
            addBinding(response, kSysDescr, {.type = Value::Type::OctetString, .bytes = "up"});
        });
    });
    std::vector<std::shared_ptr<Client>> clients;
    std::vector<std::future<Result>> results;
    for (int i = 0; i < 6; ++i) {
        clients.push_back(Client::create(agent.options()));
        results.push_back(std::async(std::launch::async, [client = clients.back()] { return get(*client, {kSysDescr}); }));
    }
    for (auto& result : results) EXPECT_EQ(describe(result.get()), "1.3.6.1.2.1.1.1.0 = OctetString \"up\"\n");
    EXPECT_EQ(Gateway::instance().slotLimit(), 2u);
    EXPECT_LE(mostSlots, 2u);

    // Idle sessions hold their slots for the next exchange, but give them up to a newcomer.
    const auto start = Clock::now();
    for (auto& client : clients) EXPECT_EQ(get(*client, {kSysDescr}).rc, 0);
    EXPECT_LT(elapsedMs(start), 1000);
}

TEST(SnmpClient, CloseEndsPendingExchangesWithoutCallbacksAndIdleSessionsClose) {
    FakeAgent silent([](const std::string&) { return std::string(); });
    std::atomic<int> callbacks{0};
    auto closed = Client::create(silent.options());
    auto dropped = Client::create(silent.options());
    onLoop([&] {
        for (auto* client : {&closed, &dropped}) {
            (*client)->get({kSysDescr}, [&](Result) { ++callbacks; });
            (*client)->walk(kSupplyLevels, {}, [&](Result) { ++callbacks; });
        }
        closed->close();
        dropped.reset();
    });
    std::this_thread::sleep_for(std::chrono::milliseconds(1500));
    EXPECT_EQ(callbacks, 0);
    EXPECT_EQ(slotsInUse(), 0u);

    // A session that answered keeps its slot a while for the next exchange, then lets it go.
    FakeAgent agent([](const std::string& request) { return respond(request, [](netsnmp_pdu*) {}); });
    auto client = Client::create(agent.options());
    EXPECT_EQ(get(*client, {kSysDescr}).rc, 0);
    EXPECT_EQ(slotsInUse(), 1u);
    std::this_thread::sleep_for(std::chrono::milliseconds(2500));
    EXPECT_EQ(slotsInUse(), 0u);
}

}  // namespace
}  // namespace kvtest

// Datagrams into plain values (golden/datagrams.golden: hex => what the
// client and the trap listener make of it), and SET values out.
#include <gtest/gtest.h>

#include "golden.h"
#include "snmp/convert.h"
#include "snmp/library.h"
#include "snmp/traps.h"
#include "snmpsim_peer.h"

namespace kvtest {
namespace {

using namespace kvnet::snmp;

std::string fromHex(const std::string& hex) {
    std::string bytes;
    for (size_t i = 0; i + 1 < hex.size(); i += 2) bytes += static_cast<char>(std::stoi(hex.substr(i, 2), nullptr, 16));
    return bytes;
}

std::string pduName(int command) {
    switch (command) {
    case SNMP_MSG_RESPONSE: return "RESPONSE";
    case SNMP_MSG_TRAP: return "TRAP";
    case SNMP_MSG_TRAP2: return "TRAP2";
    case SNMP_MSG_INFORM: return "INFORM";
    default: return "PDU " + std::to_string(command);
    }
}

std::string decode(const std::string& hex) {
    const std::string bytes = fromHex(hex);
    PduPtr pdu = parseDatagram(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size());
    if (!pdu) return "dropped";
    std::string text = std::string(pdu->version == SNMP_VERSION_1 ? "v1 " : "v2c ") + pduName(pdu->command);
    if (pdu->command == SNMP_MSG_RESPONSE && pdu->errstat != 0)
        text += " status " + std::to_string(pdu->errstat) + " index " + std::to_string(pdu->errindex);
    for (const VarBind& binding : bindingsOf(*pdu)) text += " | " + describe(binding);
    if (auto trap = trapOidOf(*pdu)) text += " | trap " + oidText(*trap);
    return text;
}

// net-snmp is used on the backend's loop only, here too.
TEST(SnmpConvert, DatagramsDecodeAsTheGoldenFileSays) {
    onLoop([] {
        initLibrary();
        expectGolden(KVTEST_SNMP_GOLDEN "/datagrams.golden", decode);
    });
}

TEST(SnmpConvert, LongOctetStringsAreCut) {
    onLoop([] {
        PduPtr pdu(snmp_pdu_create(SNMP_MSG_RESPONSE));
        ASSERT_TRUE(addBinding(pdu.get(), {1, 3, 6, 1}, {.type = Value::Type::Opaque, .bytes = std::string(4096, 'x')}));
        std::string longer(5000, 'y');
        const std::vector<oid> name = {1, 3, 6, 2};
        snmp_pdu_add_variable(pdu.get(), name.data(), name.size(), ASN_OCTET_STR, longer.data(), longer.size());
        const std::vector<VarBind> bindings = bindingsOf(*pdu);
        ASSERT_EQ(bindings.size(), 2u);
        EXPECT_EQ(bindings[0].value.bytes.size(), kMaxValueBytes);
        EXPECT_EQ(bindings[1].value.bytes, longer.substr(0, kMaxValueBytes));
    });
}

// A SET value goes out as given (read back through the decoder), or is refused.
TEST(SnmpConvert, SetValuesGoOutAsGivenOrAreRefused) {
    using T = Value::Type;
    const struct {
        Value value;
        const char* sent;   // nullptr: refused
    } cases[] = {
        {{T::Integer, -2147483648}, "1.3.6.1.9 = Integer -2147483648"},
        {{T::Integer, 2147483648}, nullptr},
        {{T::Gauge32, 4294967295}, "1.3.6.1.9 = Gauge32 4294967295"},
        {{T::TimeTicks, 4294967296}, nullptr},
        {{T::Counter64, 9223372036854775807}, "1.3.6.1.9 = Counter64 9223372036854775807"},
        {{.type = T::OctetString, .bytes = std::string("a\0b", 3)}, "1.3.6.1.9 = OctetString \"a\\x00b\""},
        {{.type = T::IpAddress, .bytes = std::string("\x0A\x00\x00\x01", 4)},
         "1.3.6.1.9 = IpAddress \"\\x0A\\x00\\x00\\x01\""},
        {{.type = T::IpAddress, .bytes = std::string("\x0A\x00\x01", 3)}, nullptr},
        {{.type = T::ObjectId, .oid = {1, 3, 6, 1, 4, 1}}, "1.3.6.1.9 = ObjectId 1.3.6.1.4.1"},
        {{T::Null}, "1.3.6.1.9 = Null"},
        {{T::NoSuchInstance}, nullptr},
    };
    onLoop([&] {
        initLibrary();
        for (const auto& c : cases) {
            PduPtr pdu(snmp_pdu_create(SNMP_MSG_SET));
            pdu->version = SNMP_VERSION_2c;
            pdu->community = reinterpret_cast<u_char*>(strdup("private"));
            pdu->community_len = 7;
            const bool added = addBinding(pdu.get(), {1, 3, 6, 1, 9}, c.value);
            ASSERT_EQ(added, c.sent != nullptr) << (c.sent ? c.sent : "a refused value");
            if (!added) continue;
            const std::string datagram = buildDatagram(pdu.get());
            PduPtr back = parseDatagram(reinterpret_cast<const uint8_t*>(datagram.data()), datagram.size());
            ASSERT_TRUE(back);
            EXPECT_EQ(describe(bindingsOf(*back).at(0)), c.sent);
        }
    });
}

}  // namespace
}  // namespace kvtest

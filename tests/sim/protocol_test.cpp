// kvprtsimd's side of the protocol, frame in and frame out, without a socket:
// which printer a greeting selects, and what each request is answered with.
#include <gtest/gtest.h>

#include <optional>
#include <string>
#include <vector>

#include "daemon/protocol.h"
#include "kvprtobj/kvprtsim.h"
#include "kvprtobj/zorbce.h"

namespace {

using kvwire::Frame;

int32_t errorOf(const Frame& f) {
    kvwire::ErrorReply e;
    return f.type == kvwire::kError && kvwire::decode(f.payload, &e) ? e.rc : 1;
}

TEST(SimProtocol, AGreetingSelectsAPrinterByNameThenIndexAndRefusesTheRest) {
    auto printer = kvsim::SimPrinter::fromDefault();
    const std::vector<kvsimd::ServedPrinter> served = {{"alpha", printer}, {"2", printer}, {"gamma", printer}};
    auto hello = [](const std::string& name) {
        return Frame{kvwire::kHello, 9, kvwire::encode(kvwire::HelloRequest{name})};
    };
    struct Row {
        const char* what;
        Frame frame;
        std::optional<size_t> selected;
        int32_t rc;   // the greeting reply's, or the error frame's
    } rows[] = {
        {"empty: the first", hello(""), 0, 0},
        {"a name", hello("gamma"), 2, 0},
        {"a name before an index", hello("2"), 1, 0},
        {"an index", hello("0"), 0, 0},
        {"an index past the end", hello("3"), std::nullopt, BCE_E_BAD_URI},
        {"an unknown name", hello("nosuch"), std::nullopt, BCE_E_BAD_URI},
        {"digits too many for an index", hello("0000000000000000001"), std::nullopt, BCE_E_BAD_URI},
        {"not a greeting", Frame{kvwire::kSendBidi, 9, {}}, std::nullopt, BCE_E_INVALID},
        {"a greeting cut short", Frame{kvwire::kHello, 9, {0x00, 0x00, 0x00}}, std::nullopt, BCE_E_INVALID},
    };
    for (const Row& row : rows) {
        kvsimd::Greeting g = kvsimd::greet(served, row.frame);
        EXPECT_EQ(g.printer, row.selected) << row.what;
        EXPECT_EQ(g.reply.id, 9u) << row.what;
        kvwire::HelloReply reply;
        if (g.reply.type == (kvwire::kHello | kvwire::kReplyBit) && kvwire::decode(g.reply.payload, &reply)) {
            EXPECT_EQ(reply.rc, row.rc) << row.what;
            EXPECT_EQ(reply.printerName, row.selected ? served[*row.selected].name : "") << row.what;
        } else {
            EXPECT_EQ(errorOf(g.reply), row.rc) << row.what;
        }
    }
}

TEST(SimProtocol, RequestsAreAnsweredWithinTheirCapacityAndBadOnesWithAnErrorFrame) {
    auto printer = kvsim::SimPrinter::fromDefault();
    auto bidi = [](uint16_t code, uint32_t capacity) {
        return Frame{kvwire::kSendBidi, 5, kvwire::encode(kvwire::SendBidiRequest{0, 0, code, capacity, {}})};
    };
    struct Row {
        const char* what;
        Frame request;
        int32_t rc;
    } rows[] = {
        {"device status", bidi(0x0C, 64), 0},
        {"a capacity beyond a frame", bidi(0x0C, 0xFFFFFFFF), 0},
        {"a buffer too small: the length it needs, no bytes", bidi(0x10, 4), BCE_E_NO_MEMORY},
        {"a code the printer does not know", bidi(0x99, 64), BCE_E_INVALID},
        {"a payload cut short", Frame{kvwire::kSendBidi, 5, {0x00, 0x01}}, BCE_E_INVALID},
        {"an unknown type", Frame{0x3E, 5, {}}, BCE_E_NOT_SUPPORTED},
    };
    for (const Row& row : rows) {
        Frame reply = kvsimd::answer(*printer, row.request);
        EXPECT_EQ(reply.id, 5u) << row.what;
        kvwire::DataReply data;
        if (reply.type == (kvwire::kSendBidi | kvwire::kReplyBit) && kvwire::decode(reply.payload, &data)) {
            EXPECT_EQ(data.rc, row.rc) << row.what;
            if (data.rc == 0) {
                EXPECT_EQ(data.length, data.data.size()) << row.what;
            } else if (data.rc == BCE_E_NO_MEMORY) {
                EXPECT_GT(data.length, 4u) << row.what;
            }
            EXPECT_TRUE(data.rc == 0 || data.data.empty()) << row.what;
        } else {
            EXPECT_EQ(errorOf(reply), row.rc) << row.what;
        }
    }
}

}  // namespace

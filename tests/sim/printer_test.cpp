// The simulated printer in process: the requests it refuses, and the profile
// it cannot read. Its replies are checked through the library by the round trip.
#include <gtest/gtest.h>

#include "kvprtobj/kvprtsim.h"
#include "scripted_printer.h"

using kvsim::SimPrinter;
using kvtest::ByteVec;
using kvtest::hex;

TEST(SimReplies, UnknownRequestsAndMalformedDataAreInvalid) {
    auto p = SimPrinter::fromDefault();
    struct Case {
        unsigned short code;
        ByteVec request;
    } cases[] = {
        {0x99, {}},                            // no such request
        {0x01, {0}},                           // no data expected
        {0x02, {}},                            // one byte 00 expected
        {0x4E, {0x00}},                        // short id
        {0x4E, {0x12, 0x34}},                  // no such variable
        {0x4F, hex("0F 01 41")},               // read-only variable
        {0x4F, hex("12 34 41")},               // no such variable
        {0x56, {0x00, 0x4D}},                  // not a miscellaneous variable
        {0x40, {0x00, 0x01, 0x40}},            // button request starts 00 00
        {0x57, {0x00, 0xB2}},                  // neither reset nor continue
        {0x76, {0x00, 0x63}},                  // no such job
        {0x75, hex("FF 00 00 00")},            // short job query
        {0x91, hex("01 02 05 54 72 61 79")},   // name without its terminating zero
        {0x94, hex("02 00 4D")},               // fewer ids than counted
    };
    for (const Case& c : cases) {
        uint8_t reply[256];
        unsigned long length = sizeof reply;
        EXPECT_EQ(p->sendBidi(0, 0, c.code, reply, &length, c.request.data(), c.request.size()), BCE_E_INVALID)
            << std::hex << c.code;
    }
}

TEST(SimIdentity, CreateReportsTheProfileItCannotRead) {
    char message[256] = "";
    BcePrinter* created = kvprtsim_create("/nonexistent.json", message, sizeof message);
    EXPECT_EQ(created, nullptr);
    EXPECT_NE(std::string(message).find("/nonexistent.json"), std::string::npos);
    created = kvprtsim_create(nullptr, message, sizeof message);
    ASSERT_NE(created, nullptr);
    delete created;
    EXPECT_EQ(std::string(kvprtsim_default_profile()), SimPrinter::defaultProfileJson());
}

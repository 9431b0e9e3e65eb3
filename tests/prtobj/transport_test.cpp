#include <gtest/gtest.h>

#include "scripted_printer.h"

using namespace kvtest;

namespace {

struct Sent {
    long rc;
    ByteVec reply;
};

// One request with reply allocation, the reply copied out and released.
Sent query(KVPrtObj& obj, unsigned short code, unsigned long firstSize = 0, int force = 0) {
    void* data = nullptr;
    unsigned long length = firstSize;
    long rc = obj.bidiQuery(code, nullptr, 0, &data, &length, 1, force);
    Sent out{rc, {}};
    if (rc == 0 && data) out.reply.assign(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + length);
    ::operator delete(data);
    return out;
}

std::vector<unsigned long> capacities(const ScriptedPrinter& p) {
    std::vector<unsigned long> out;
    for (const auto& r : p.requests()) out.push_back(r.capacity);
    return out;
}

}  // namespace

TEST(Transport, InactiveBidiRefusesUnlessForced) {
    PrinterRig rig;
    rig.obj.setBidi(0);
    rig.printer.answer(0x10, Bytes{0x41});
    EXPECT_EQ(query(rig.obj, 0x10).rc, -11);
    EXPECT_EQ(rig.printer.requestCount(), 0u);
    EXPECT_EQ(rig.obj.isBidiActive(), 0);
    EXPECT_EQ(query(rig.obj, 0x10, 0, 1).rc, 0);
    EXPECT_EQ(rig.printer.requestCount(), 1u);
    EXPECT_EQ(rig.obj.isBidiActive(), 1);
}

TEST(Transport, StripsTheFirstReplyByte) {
    PrinterRig rig;
    rig.printer.answer(0x10, rawReply(hex("07 41 42 43")));
    auto sent = query(rig.obj, 0x10);
    EXPECT_EQ(sent.rc, 0);
    EXPECT_EQ(sent.reply, hex("41 42 43"));
    auto r = rig.printer.lastRequest();
    EXPECT_EQ(r.code, 0x10);
    EXPECT_EQ(r.capacity, 2048u);
}

TEST(Transport, AttemptsAreRetryCountPlusOne) {
    for (int retries : {0, 1, 3}) {
        PrinterRig rig;
        rig.obj.setBidiRetryCount(retries);
        rig.printer.answer(1, fail(-3));
        rig.printer.answer(1, fail(-7));
        EXPECT_EQ(query(rig.obj, 1).rc, retries == 0 ? -3 : -7);
        EXPECT_EQ(rig.printer.requestCount(), static_cast<size_t>(retries + 1));
    }
}

TEST(Transport, RetryStopsAtTheFirstSuccess) {
    PrinterRig rig;
    rig.obj.setBidiRetryCount(5);
    rig.printer.answer(1, fail(-16));
    rig.printer.answer(1, reply(Bytes{9}));
    EXPECT_EQ(query(rig.obj, 1).rc, 0);
    EXPECT_EQ(rig.printer.requestCount(), 2u);
    EXPECT_EQ(rig.obj.isBidiActive(), 1);   // a success without force leaves the flag as it was
}

TEST(Transport, ReplyBufferGrowsByDoublingToTheLimit) {
    PrinterRig rig;
    for (int i = 0; i < 4; ++i) rig.printer.answer(1, fail(-18));
    rig.printer.answer(1, reply(Bytes{1}));
    EXPECT_EQ(query(rig.obj, 1).rc, 0);
    EXPECT_EQ(capacities(rig.printer), (std::vector<unsigned long>{2048, 4096, 8192, 16384, 32768}));
}

TEST(Transport, TooSmallAtTheLimitEndsTheAttemptAndTheNextStartsThere) {
    PrinterRig rig;
    rig.obj.setBidiRetryCount(1);
    rig.printer.setDefault(fail(-18));
    EXPECT_EQ(query(rig.obj, 1).rc, -18);
    auto caps = capacities(rig.printer);
    ASSERT_GE(caps.size(), 7u);
    EXPECT_EQ(std::vector<unsigned long>(caps.begin(), caps.begin() + 6),
              (std::vector<unsigned long>{2048, 4096, 8192, 16384, 32768, 64000}));
    for (size_t i = 6; i < caps.size(); ++i) EXPECT_EQ(caps[i], 64000u);
    EXPECT_EQ(rig.obj.isBidiActive(), 1);   // -18 is not a channel-down code
}

TEST(Transport, ARealReplyLargerThanTheDefaultArrivesWhole) {
    PrinterRig rig;
    ByteVec big(10000, 0x5A);
    rig.printer.answer(0x21, reply(big));
    auto sent = query(rig.obj, 0x21);
    EXPECT_EQ(sent.rc, 0);
    EXPECT_EQ(sent.reply, big);
    EXPECT_EQ(capacities(rig.printer), (std::vector<unsigned long>{2048, 4096, 8192, 16384}));
}

TEST(Transport, FirstBufferSizeComesFromTheCaller) {
    PrinterRig rig;
    rig.printer.answer(0x97, reply(Bytes{0}));
    EXPECT_EQ(query(rig.obj, 0x97, 1048576).rc, 0);
    EXPECT_EQ(rig.printer.lastRequest().capacity, 1048576u);
}

TEST(Transport, WithoutAllocationNothingIsGrownOrReturned) {
    PrinterRig rig;
    rig.obj.setBidiRetryCount(1);
    rig.printer.setDefault(fail(-18));
    unsigned char data[1] = {1};
    EXPECT_EQ(rig.obj.bidiQuery(0x31, data, 1, nullptr, nullptr, 0, 0), -18);
    EXPECT_EQ(capacities(rig.printer), (std::vector<unsigned long>{0, 0}));
    EXPECT_EQ(rig.printer.lastRequest().data, ByteVec{1});
}

TEST(Transport, EmptyOrOversizedRepliesAreBadAndTakeBidiDown) {
    for (unsigned long claimed : {0ul, 2049ul}) {
        PrinterRig rig;
        Answer a = rawReply(hex("01 02"));
        a.claimedLength = claimed;
        rig.printer.answer(1, a);
        EXPECT_EQ(query(rig.obj, 1).rc, -2) << claimed;
        EXPECT_EQ(rig.obj.isBidiActive(), 0);
    }
}

TEST(Transport, ResultCodesMoveTheFlag) {
    struct Case {
        long rc;
        int force;
        int flagAfter;   // the flag starts active
    };
    const Case cases[] = {
        {-2, 0, 0},  {-10, 0, 0}, {-11, 0, 0}, {-16, 0, 0}, {-17, 0, 0}, {-10, 1, 0},
        {-3, 0, 1},  {-18, 0, 1}, {-99, 0, 1}, {0, 0, 1},
    };
    for (const auto& c : cases) {
        PrinterRig rig;
        rig.printer.answer(1, c.rc ? fail(c.rc) : reply(Bytes{1}));
        EXPECT_EQ(query(rig.obj, 1, 0, c.force).rc, c.rc);
        EXPECT_EQ(rig.obj.isBidiActive(), c.flagAfter) << c.rc;
    }
    // Forced requests that fail with other codes bring bidi back.
    PrinterRig rig;
    rig.obj.setBidi(0);
    rig.printer.answer(1, fail(-3));
    EXPECT_EQ(query(rig.obj, 1, 0, 1).rc, -3);
    EXPECT_EQ(rig.obj.isBidiActive(), 1);
}

TEST(Transport, SendsAppIdHandleAndRequestBytes) {
    PrinterRig rig;
    rig.obj.setBceAppId(-4);
    unsigned char data[3] = {0xFF, 0x00, 0x07};
    void* reply = nullptr;
    unsigned long length = 0;
    rig.printer.answer(0x75, kvtest::reply(Bytes{}));
    rig.obj.bidiQuery(0x75, data, 3, &reply, &length, 1, 0);
    ::operator delete(reply);
    auto r = rig.printer.lastRequest();
    EXPECT_EQ(r.appId, -4);
    EXPECT_EQ(r.code, 0x75);
    EXPECT_EQ(r.data, hex("FF 00 07"));
}

TEST(NetworkType, InvalidTypesFallBackToZero) {
    PrinterRig rig;
    rig.obj.m_caps.dwProtocols = 0x01;   // only network type 0x01
    EXPECT_EQ(rig.obj.setBidiQueryNetType(0x40), 0u);
    EXPECT_EQ(rig.obj.getBidiQueryNetType(), 0u);
    EXPECT_EQ(rig.obj.setBidiQueryNetType(0x10), 0x10u);   // not a protocol bit: passed as it is
    EXPECT_EQ(rig.obj.setBidiQueryNetType(0x01), 0x01u);
    // A type that became invalid falls back before the send and stays 0.
    rig.obj.m_caps.dwProtocols = 0;
    rig.printer.answer(1, reply(Bytes{1}));
    EXPECT_EQ(query(rig.obj, 1).rc, 0);
    EXPECT_EQ(rig.printer.lastRequest().netType, 0u);
    EXPECT_EQ(rig.obj.getBidiQueryNetType(), 0u);
}

TEST(NetworkType, ValidityTable) {
    struct Case {
        unsigned int netType;
        unsigned bit;
    };
    const Case protocolTypes[] = {{0x01, 0}, {0x02, 1}, {0x80, 2}, {0x04, 3}, {0x40, 4}, {0x20, 5}, {0x08, 6}};
    OpenPrtObj p;
    for (const auto& c : protocolTypes) {
        p.m_caps.dwProtocols = ~(1u << c.bit);
        EXPECT_EQ(p.isValidNetType(c.netType), 0) << c.netType;
        p.m_caps.dwProtocols = 1u << c.bit;
        EXPECT_EQ(p.isValidNetType(c.netType), 1) << c.netType;
    }
    for (unsigned int other : {0u, 0x10u, 3u, 5u, 0x100u, 0x2000000u}) EXPECT_EQ(p.isValidNetType(other), 1) << other;
}

TEST(NetworkType, CapturedPortTypesNeedTheAttachmentBit) {
    PrinterRig rig;
    PRTINFO info{};
    info.ulAttachment = 0x20000;   // LPT2 captured
    rig.printer.setPrtInfo(info);
    EXPECT_EQ(rig.obj.isValidNetType(0x20000), 0);   // no captured ports known
    rig.obj.m_caps.bHasCapturedPorts = 1;
    EXPECT_EQ(rig.obj.isValidNetType(0x20000), 1);
    EXPECT_EQ(rig.obj.isValidNetType(0x10000), 0);
    EXPECT_EQ(rig.obj.isValidNetType(0x1000000), 0);
    rig.printer.setPrtInfoResult(-11);
    EXPECT_EQ(rig.obj.isValidNetType(0x20000), 0);   // information unreadable
}

TEST(AlertRead, OneReadOfTheAlertData) {
    PrinterRig rig;
    rig.obj.setBidi(0);   // alert reads ignore the flag
    rig.printer.setAlert(12, hex("03 40 0C 05"));
    void* data = nullptr;
    unsigned long length = 0;
    ASSERT_EQ(rig.obj.bidiQueryAlert(12, 0x5FE, &data, &length, 2), 0);
    ASSERT_NE(data, nullptr);
    EXPECT_EQ(ByteVec(static_cast<uint8_t*>(data), static_cast<uint8_t*>(data) + length), hex("03 40 0C 05"));
    ::operator delete(data);
    EXPECT_EQ(rig.printer.alertQueries(), std::vector<unsigned short>{12});
    EXPECT_EQ(rig.printer.alertFlags(), std::vector<int>{2});
    EXPECT_EQ(rig.obj.isBidiActive(), 0);
}

TEST(AlertRead, OversizedAlertGivesNoDataAndSuccess) {
    PrinterRig rig;
    rig.printer.setAlert(3, ByteVec(10, 1), 0, 3000ul);
    void* data = reinterpret_cast<void*>(1);
    unsigned long length = 0;
    EXPECT_EQ(rig.obj.bidiQueryAlert(3, 0x5F4, &data, &length, 2), 0);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(length, 3000u);
}

TEST(AlertRead, EngineFailurePassesThrough) {
    PrinterRig rig;
    rig.printer.setAlert(3, {}, -17);
    void* data = nullptr;
    unsigned long length = 0;
    EXPECT_EQ(rig.obj.bidiQueryAlert(3, 0x5F4, &data, &length, 2), -17);
    EXPECT_EQ(data, nullptr);
    EXPECT_EQ(rig.obj.isBidiActive(), 1);   // alert reads never move the flag
}

// A host class that overrides the transport changes every operation.
TEST(Transport, DerivedHostOverridesReachEveryOperation) {
    struct Host : KVPrtObj {
        int queries = 0;
        long bidiQuery(unsigned short code, void* d, unsigned long n, void** r, unsigned long* len, int a,
                       int f) override {
            ++queries;
            EXPECT_EQ(code, 0x36);
            return KVPrtObj::bidiQuery(code, d, n, r, len, a, f);
        }
    } host;
    EXPECT_EQ(host.bidiResetHostPageCount(), -11);   // default object: bidi inactive
    EXPECT_EQ(host.queries, 1);
}

#include <gtest/gtest.h>

#include <functional>
#include <optional>
#include <tuple>

#include "scripted_printer.h"

using namespace kvtest;

namespace {

struct Sent { long rc; ByteVec reply; };

// One request with reply allocation, the reply copied out and released.
Sent query(KVPrtObj& obj, unsigned short code, unsigned long firstSize = 0, int force = 0) {
    void* data = nullptr;
    unsigned long length = firstSize;
    long rc = obj.bidiQuery(code, nullptr, 0, &data, &length, 1, force);
    if (rc != 0) length = 0;   // the buffer is the caller's whatever happened; its content only on success
    return Sent{rc, take(data, length)};
}

std::vector<unsigned long> capacities(const ScriptedPrinter& p) {
    std::vector<unsigned long> out;
    for (const auto& r : p.requests()) out.push_back(r.capacity);
    return out;
}

using Caps = std::vector<unsigned long>;

}  // namespace

TEST(Transport, SendsTheRequestAndStripsTheFirstReplyByte) {
    PrinterRig rig;
    rig.obj.setBceAppId(-4);
    rig.printer.answer(0x75, rawReply(hex("07 41 42 43")));
    unsigned char data[3] = {0xFF, 0x00, 0x07};
    void* out = nullptr;
    unsigned long length = 0;
    EXPECT_EQ(rig.obj.bidiQuery(0x75, data, 3, &out, &length, 1, 0), 0);
    EXPECT_EQ(take(out, length), hex("41 42 43"));
    auto r = rig.printer.lastRequest();
    EXPECT_EQ(std::tuple(r.appId, r.code, r.data, r.capacity), std::tuple(short(-4), 0x75, hex("FF 00 07"), 2048ul));
    // The first byte alone: success without data.
    rig.printer.answer(0x75, rawReply(hex("07")));
    EXPECT_EQ(rig.obj.bidiQuery(0x75, data, 3, &out, &length, 1, 0), 0);
    EXPECT_EQ(take(out, length), ByteVec{});
}

TEST(Transport, AttemptsAreRetryCountPlusOneUntilTheFirstSuccess) {
    for (int retries : {0, 1, 3}) {
        PrinterRig rig;
        rig.obj.setBidiRetryCount(retries);
        rig.printer.answer(1, fail(-3));
        rig.printer.answer(1, fail(-7));
        EXPECT_EQ(query(rig.obj, 1).rc, retries == 0 ? -3 : -7);
        EXPECT_EQ(rig.printer.requestCount(), static_cast<size_t>(retries + 1));
    }
    PrinterRig rig;
    rig.obj.setBidiRetryCount(5);
    rig.printer.answer(1, fail(-16));
    rig.printer.answer(1, reply(Bytes{9}));
    EXPECT_EQ(query(rig.obj, 1).rc, 0);
    EXPECT_EQ(rig.printer.requestCount(), 2u);
}

TEST(Transport, ReplyBufferGrowsByDoublingToTheLimit) {
    PrinterRig rig;
    ByteVec big(10000, 0x5A);
    rig.printer.answer(0x21, reply(big));
    auto sent = query(rig.obj, 0x21);
    EXPECT_EQ(std::tuple(sent.rc, sent.reply), std::tuple(0l, big));
    EXPECT_EQ(capacities(rig.printer), (Caps{2048, 4096, 8192, 16384}));

    // Too small at the limit ends the attempt; the next one starts there.
    PrinterRig full;
    full.obj.setBidiRetryCount(1);
    full.printer.setDefault(fail(-18));
    EXPECT_EQ(query(full.obj, 1).rc, -18);
    Caps caps = capacities(full.printer);
    ASSERT_GE(caps.size(), 7u);
    EXPECT_EQ(Caps(caps.begin(), caps.begin() + 6), (Caps{2048, 4096, 8192, 16384, 32768, 64000}));
    EXPECT_EQ(Caps(caps.begin() + 6, caps.end()), Caps(caps.size() - 6, 64000));
    EXPECT_EQ(full.obj.isBidiActive(), 1);   // -18 is not a channel-down code

    full.printer.clearRecords();   // without allocation nothing is grown or returned
    unsigned char data[1] = {1};
    EXPECT_EQ(full.obj.bidiQuery(0x31, data, 1, nullptr, nullptr, 0, 0), -18);
    EXPECT_EQ(capacities(full.printer), (Caps{0, 0}));
}

TEST(Transport, ResultCodesMoveTheFlag) {
    struct Case {
        long rc;
        int force;
        int flagBefore, flagAfter;
        std::optional<unsigned long> claimed;   // a reply of two bytes claiming this length
    };
    const Case cases[] = {
        {-2, 0, 1, 0},  {-10, 0, 1, 0}, {-11, 0, 1, 0}, {-16, 0, 1, 0}, {-17, 0, 1, 0}, {-10, 1, 1, 0},
        {-3, 0, 1, 1},  {-18, 0, 1, 1}, {-99, 0, 1, 1}, {0, 0, 1, 1},
        {-3, 1, 0, 1},   // forced requests that fail with other codes bring bidi back
        {0, 1, 0, 1},    {-11, 0, 0, 0},
        {-2, 0, 1, 0, 0ul}, {-2, 0, 1, 0, 2049ul},   // empty or oversized replies are bad
    };
    for (const auto& c : cases) {
        PrinterRig rig;
        rig.obj.setBidi(c.flagBefore);
        Answer a = c.rc && !c.claimed ? fail(c.rc) : rawReply(hex("01 02"));
        a.claimedLength = c.claimed;
        rig.printer.answer(1, a);
        EXPECT_EQ(query(rig.obj, 1, 0, c.force).rc, c.rc) << c.rc << " force " << c.force;
        EXPECT_EQ(rig.obj.isBidiActive(), c.flagAfter) << c.rc << " force " << c.force;
        EXPECT_TRUE(c.flagBefore || c.force || rig.printer.requestCount() == 0u);   // refused unforced
    }
}

TEST(Transport, TheResultThatClearedTheFlagIsKeptUntilTheFlagIsSet) {
    PrinterRig rig;
    rig.printer.answer(1, fail(-17));
    rig.printer.answer(1, fail(-2));
    rig.printer.answer(1, fail(-16));
    rig.printer.answer(2, reply(Bytes{1}));
    const std::pair<std::function<void()>, long> steps[] = {
        {[&] { query(rig.obj, 1); }, -17},
        {[&] { query(rig.obj, 1); }, -17},   // refused with -11, nothing sent
        {[&] { rig.obj.setBidi(0); }, -17},
        {[&] { query(rig.obj, 1, 0, 1); }, -2},   // forced, fails again
        {[&] { query(rig.obj, 1, 0, 1); }, -16},
        {[&] { rig.obj.bidiInitialize(0); }, 0},   // discovery decides afresh
        {[&] { rig.printer.setPrtInfoResult(-10), rig.obj.bidiInitialize(1); }, -10},   // ... by the information read
        {[&] { rig.printer.setPrtInfoResult(0), rig.obj.bidiInitialize(1); }, 0},
        {[&] { query(rig.obj, 2, 0, 1); }, 0},    // forced, answered: the flag is set
        {[&] { rig.obj.setBidi(0); }, 0},
    };
    for (size_t i = 0; i < std::size(steps); ++i) {
        steps[i].first();
        EXPECT_EQ(rig.obj.getBidiFailure(), steps[i].second) << "step " << i;
    }
    EXPECT_EQ(rig.printer.requestCount(), 4u);
}

TEST(NetworkType, ValidityCapturedPortsAndFallBackToZero) {
    const std::pair<unsigned int, unsigned> protocolTypes[] = {{0x01, 0}, {0x02, 1}, {0x80, 2}, {0x04, 3},
                                                               {0x40, 4}, {0x20, 5}, {0x08, 6}};
    OpenPrtObj p;
    for (auto [netType, bit] : protocolTypes) {
        p.m_caps.dwProtocols = ~(1u << bit);
        EXPECT_EQ(p.isValidNetType(netType), 0) << netType;
        p.m_caps.dwProtocols = 1u << bit;
        EXPECT_EQ(p.isValidNetType(netType), 1) << netType;
    }
    for (unsigned int other : {0u, 0x10u, 3u, 0x100u}) EXPECT_EQ(p.isValidNetType(other), 1) << other;

    PrinterRig rig;
    rig.obj.m_caps.dwProtocols = 0x01;
    EXPECT_EQ(rig.obj.setBidiQueryNetType(0x40), 0u);
    EXPECT_EQ(rig.obj.setBidiQueryNetType(0x01), 0x01u);
    // A type that became invalid falls back before the send and stays 0.
    rig.obj.m_caps.dwProtocols = 0;
    rig.printer.answer(1, reply(Bytes{1}));
    EXPECT_EQ(query(rig.obj, 1).rc, 0);
    EXPECT_EQ(rig.printer.lastRequest().netType, 0u);
    EXPECT_EQ(rig.obj.getBidiQueryNetType(), 0u);
    // Captured port types need their attachment bit.
    PRTINFO info{};
    info.ulAttachment = 0x20000;   // LPT2 captured
    rig.printer.setPrtInfo(info);
    EXPECT_EQ(rig.obj.isValidNetType(0x20000), 0);   // no captured ports known
    rig.obj.m_caps.bHasCapturedPorts = 1;
    EXPECT_EQ(rig.obj.isValidNetType(0x20000), 1);
    EXPECT_EQ(rig.obj.isValidNetType(0x10000), 0);
    rig.printer.setPrtInfoResult(-11);
    EXPECT_EQ(rig.obj.isValidNetType(0x20000), 0);   // information unreadable
}

TEST(AlertRead, OneReadIgnoringTheFlagWhichItNeverMoves) {
    PrinterRig rig;
    rig.obj.setBidi(0);
    rig.printer.setAlert(12, hex("03 40 0C 05"));
    rig.printer.setAlert(3, ByteVec(10, 1), 0, 3000ul);
    rig.printer.setAlert(4, {}, -17);
    rig.printer.setAlert(5, ByteVec(2048, 1));   // as long as the alert buffer: read whole
    void* data = nullptr;
    unsigned long length = 0;
    ASSERT_EQ(rig.obj.bidiQueryAlert(12, 0x5FE, &data, &length, 2), 0);
    EXPECT_EQ(take(data, length), hex("03 40 0C 05"));
    EXPECT_EQ(rig.printer.alertFlags(), std::vector<int>{2});
    // An oversized alert gives no data and success.
    long rc = rig.obj.bidiQueryAlert(3, 0x5F4, &data, &length, 2);
    EXPECT_EQ(std::tuple(rc, data, length), std::tuple(0l, nullptr, 3000ul));
    ASSERT_EQ(rig.obj.bidiQueryAlert(5, 0x5F4, &data, &length, 2), 0);
    EXPECT_EQ(take(data, length), ByteVec(2048, 1));
    rig.obj.setBidi(1);
    rc = rig.obj.bidiQueryAlert(4, 0x5F4, &data, &length, 2);
    EXPECT_EQ(std::tuple(rc, data, rig.obj.isBidiActive()), std::tuple(-17l, nullptr, 1));
    EXPECT_EQ(rig.printer.alertQueries(), (std::vector<unsigned short>{12, 3, 5, 4}));
}

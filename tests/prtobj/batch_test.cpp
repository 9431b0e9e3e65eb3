#include <gtest/gtest.h>

#include <cstring>
#include <functional>
#include <tuple>
#include <vector>

#include "kvprtobj/batch.h"
#include "kvprtobj/bidicodes.h"
#include "scripted_printer.h"

using namespace kvtest;

namespace {

// A scripted printer whose asynchronous calls complete only when the test releases them.
class DeferredPrinter : public ScriptedPrinter {
public:
    long sendBidiAsync(short appId, unsigned int netType, unsigned short code, const void* data,
                       unsigned long length, unsigned long capacity, BceCompletion done, void* context) override {
        ByteVec request(static_cast<const uint8_t*>(data), static_cast<const uint8_t*>(data) + length);
        m_queue.push_back([=, this] {
            return ScriptedPrinter::sendBidiAsync(appId, netType, code, request.data(), request.size(), capacity,
                                                  done, context);
        });
        return 0;
    }
    // Completes the queued calls, last first; those they start queue anew.
    size_t releaseBackwards() {
        auto queue = std::move(m_queue);
        m_queue.clear();
        for (auto it = queue.rbegin(); it != queue.rend(); ++it) (*it)();
        return queue.size();
    }

private:
    std::vector<std::function<long()>> m_queue;
};

unsigned short attach(std::shared_ptr<BcePrinter> printer) {
    unsigned short handle = 0;
    EXPECT_EQ(BceAttachPrinter(std::move(printer), &handle), 0);
    return handle;
}

struct DeferredRig {
    std::shared_ptr<DeferredPrinter> printer = std::make_shared<DeferredPrinter>();
    unsigned short handle = attach(printer);
    OpenPrtObj obj{handle, 0};
    DeferredRig() { obj.setBidi(1); }
    ~DeferredRig() { BceClosePrinter(handle); }
};

}  // namespace

TEST(Batch, SendsEveryRequestAtOnceAndDecodesEachReplyAsTheObjectDoes) {
    DeferredRig rig;
    rig.printer->answer(kvbidi::kDeviceStatus, hex("81 02 03"));
    rig.printer->answer(kvbidi::kPageCounts, hex("03 01 00 00 00 05 02 00 00 01 00 04 00 00 00 07"));
    KVPrtObj::PRINTERSTATUS status{};
    KVPrtObj::PAGECOUNTDATA counts{}, both{};
    KVPrtObjBatch batch(rig.obj);
    size_t s = batch.add([&](KVPrtObj& p) { return p.bidiQueryDeviceStatus(&status); });
    size_t c = batch.add([&](KVPrtObj& p) { return p.bidiGetPageCounts(&counts); });
    // Two requests in turn: the second goes out when the first is answered.
    size_t t = batch.add([&](KVPrtObj& p) {
        KVPrtObj::PRINTERSTATUS unused{};
        long rc = p.bidiQueryDeviceStatus(&unused);
        return rc ? rc : p.bidiGetPageCounts(&both);
    });
    size_t n = batch.add([&](KVPrtObj& p) { return p.bidiQueryDeviceStatus(nullptr); });   // refused before sending
    bool done = false;
    batch.start([&] { done = true; });
    EXPECT_EQ(batch.result(n), -18);
    EXPECT_EQ(batch.result(s), KVPrtObjBatch::kPending);
    EXPECT_EQ(rig.printer->releaseBackwards(), 3u);
    EXPECT_FALSE(done);
    EXPECT_EQ(rig.printer->releaseBackwards(), 1u);
    EXPECT_TRUE(done);
    EXPECT_EQ(std::tuple(batch.result(s), batch.result(c), batch.result(t)), std::tuple(0, 0, 0));
    EXPECT_EQ(std::tuple(counts.dwPageCountType1, counts.dwPageCountType2, counts.dwPageCountType4),
              std::tuple(5u, 256u, 7u));
    EXPECT_EQ(both.dwPageCountType4, 7u);
}

TEST(Batch, RequestsFollowTheObjectsFlagRetriesAndChannelRules) {
    // Retried as the object retries; the channel-down result clears the object's flag after the batch.
    PrinterRig rig;
    rig.obj.setBidiRetryCount(2);
    rig.printer.answer(kvbidi::kDeviceStatus, fail(-16));
    rig.printer.answer(kvbidi::kPageCounts, fail(-7));
    rig.printer.answer(kvbidi::kPageCounts, reply(hex("00")));
    KVPrtObj::PRINTERSTATUS status{};
    KVPrtObj::PAGECOUNTDATA counts{};
    KVPrtObjBatch batch(rig.obj);
    batch.add([&](KVPrtObj& p) { return p.bidiGetPageCounts(&counts); });
    batch.add([&](KVPrtObj& p) { return p.bidiQueryDeviceStatus(&status); });
    batch.run();
    EXPECT_EQ(std::tuple(batch.result(0), batch.result(1), batch.result(2)), std::tuple(0, -16, BCE_E_INVALID));
    EXPECT_EQ(rig.printer.requestCount(), 3u + 2u);
    EXPECT_FALSE(rig.obj.isBidiActive());
    EXPECT_EQ(rig.obj.getBidiFailure(), -16);

    // Now refused without a request, as the object refuses; a forced request sets the flag again.
    rig.printer.clearRecords();
    rig.printer.answer(kvbidi::kDeviceStatus, reply(hex("00 00 00")));
    batch.run();
    EXPECT_EQ(std::tuple(batch.result(0), batch.result(1)), std::tuple(-11, -11));
    EXPECT_EQ(rig.printer.requestCount(), 0u);
    KVPrtObjBatch forced(rig.obj);
    forced.add([&](KVPrtObj& p) {
        void* data = nullptr;
        unsigned long length = 0;
        long rc = p.bidiQuery(kvbidi::kDeviceStatus, nullptr, 0, &data, &length, 1, 1);
        EXPECT_EQ(take(data, rc == 0 ? length : 0), rc == 0 ? hex("00 00 00") : ByteVec{});
        return rc;
    });
    forced.run();
    EXPECT_EQ(forced.result(0), 0);
    EXPECT_TRUE(rig.obj.isBidiActive());
    EXPECT_EQ(rig.obj.getBidiFailure(), 0);
}

TEST(Batch, AlertReadsGoThroughTheBatchToo) {
    PrinterRig rig;
    rig.printer.setAlert(7, hex("01 00 02"));
    KVPrtObj::PRINTERSTATUS status{}, direct{};
    KVPrtObjBatch batch(rig.obj);
    batch.add([&](KVPrtObj& p) { return p.bidiQueryDSAAlert(7, &status); });
    batch.add([&](KVPrtObj& p) { return p.bidiQueryDSAAlert(8, &status); });   // the printer has no alert 8
    batch.run();
    EXPECT_EQ(batch.result(0), 0);
    EXPECT_EQ(rig.obj.bidiQueryDSAAlert(7, &direct), 0);
    EXPECT_EQ(std::memcmp(&status, &direct, sizeof status), 0);
    EXPECT_EQ(batch.result(1), rig.obj.bidiQueryDSAAlert(8, &direct));
    EXPECT_EQ(rig.printer.alertFlags(), (std::vector<int>{2, 2, 2, 2}));
}

TEST(Batch, ALongReplyIsAskedForAgainWithRoomAndOneClaimingMoreThanItsBufferIsBad) {
    // The object's buffer sizes, skipping those the length the engine reports
    // shows too small (the object itself takes every step: transport_test).
    const struct {
        unsigned short code;
        size_t size;
        long rc;
        std::vector<unsigned long> capacities;
    } rows[] = {
        {0x77, 3000, 0, {2048, 4096}},
        {0x78, 20000, 0, {2048, 32768}},
        {0x79, KVPrtObj::kMaxReplySize + 1, -18, {2048, 64000}},   // too long even for the largest
    };
    PrinterRig rig;
    Answer lying = rawReply(hex("01 02"));
    lying.claimedLength = KVPrtObj::kMaxReplySize + 1;
    rig.printer.answer(kvbidi::kPageCounts, lying);
    KVPrtObj::PAGECOUNTDATA counts{};
    KVPrtObjBatch batch(rig.obj);
    std::vector<ByteVec> got(std::size(rows));
    for (size_t i = 0; i < std::size(rows); ++i) {
        rig.printer.answer(rows[i].code, reply(ByteVec(rows[i].size, static_cast<uint8_t>(i))));
        batch.add([&, i](KVPrtObj& p) {
            void* data = nullptr;
            unsigned long length = 0;
            long rc = p.bidiQuery(rows[i].code, nullptr, 0, &data, &length, 1, 0);
            got[i] = take(data, rc == 0 ? length : 0);
            return rc;
        });
    }
    batch.add([&](KVPrtObj& p) { return p.bidiGetPageCounts(&counts); });   // last: it clears the flag
    batch.run();
    EXPECT_EQ(batch.result(std::size(rows)), BCE_E_BAD_REPLY);
    for (size_t i = 0; i < std::size(rows); ++i) {
        std::vector<unsigned long> capacities;
        for (const SentRequest& r : rig.printer.requests())
            if (r.code == rows[i].code) capacities.push_back(r.capacity);
        EXPECT_EQ(std::tuple(batch.result(i), got[i].size(), capacities),
                  std::tuple(rows[i].rc, rows[i].rc ? 0 : rows[i].size, rows[i].capacities))
            << rows[i].size;
    }
    rig.obj.setBidi(1);
    EXPECT_EQ(rig.obj.bidiGetPageCounts(&counts), BCE_E_BAD_REPLY);
}

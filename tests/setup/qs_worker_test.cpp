// The worker's failure, stop and header-word paths, and verifications on
// several threads at once.
#include <gtest/gtest.h>

#include <atomic>
#include <filesystem>
#include <optional>
#include <thread>

#include "qs_fixture.h"
#include "qsf_image.h"

using namespace kvtest;
using namespace qstest;

namespace {

Messages messages(std::initializer_list<Message> list) { return Messages(list); }
const Message kDone{kFinished, 0};
Message error(LPARAM code) { return {kError, code}; }
Message step(LPARAM n) { return {kProgress, n}; }

bool exists(const std::string& path) { return std::filesystem::exists(path); }

KVQSThreadControl* newControl(KVQSThreadControl::KVThreadAction action) {
    return new KVQSThreadControl("", nullptr, 0, nullptr, 0, nullptr, 0, action);
}

// A library file of printer type 0 with lists of 3 and 2 one-byte values.
void writeThreeAndTwo(const std::string& path) {
    writeQsfFile(path, QsfImage(0)
                           .list1({{0x0101, {1}}, {0x0102, {2}}, {0x0103, {3}}})
                           .list2({{0x0201, {4}}, {0x0202, {5}}})
                           .bytes());
}

constexpr const char kThreeAndTwo[] = "[PrinterType0]\nList1 = 0101 0102 0103\nList2 = 0201 0202\n";

void storeThreeAndTwo(VariableStore& store) {
    for (uint16_t id : {0x0101, 0x0102, 0x0103, 0x0201, 0x0202}) store.set(id, {static_cast<uint8_t>(id)});
}

}  // namespace

TEST(QuickSetupWorker, StopBeforeTheWorkerRunsPostsOnlyFinished) {
    TempDir dir;
    writeThreeAndTwo(dir.file("send"));
    ConfigOverride config(kThreeAndTwo);
    StoredPrinter printer(0);
    storeThreeAndTwo(printer.store);
    std::unique_ptr<KVQSThreadControl> control(newControl(KVQSThreadControl::KVTA_STOP));
    for (bool send : {true, false}) {
        HostWindow host;
        QuickSetup qs;
        unsigned long steps = 0;
        auto rc = send ? qs.bidiQuickSetupSend(printer.obj(), dir.file("send"), host.handle(), &steps, control.get(), 1)
                       : qs.bidiQuickSetupReceive(printer.obj(), dir.file("recv"), host.handle(), &steps, control.get(), 1);
        ASSERT_EQ(rc, 0u);
        EXPECT_EQ(steps, 5u);
        ASSERT_TRUE(host.waitFinished());
        EXPECT_EQ(host.seen(), messages({kDone}));
    }
    EXPECT_EQ(printer.rig.printer.requestCount(), 0u);
    EXPECT_FALSE(exists(dir.file("recv")));
}

TEST(QuickSetupWorker, StopDuringASendEndsEachListAfterItsCurrentVariable) {
    // The flags are cleared per list, so a stop on list 1 still lets list 2
    // start; its first variable then sees the stop too.
    TempDir dir;
    writeThreeAndTwo(dir.file("f"));
    StoredPrinter printer(0);
    std::unique_ptr<KVQSThreadControl> control(newControl(KVQSThreadControl::KVTA_NONE));
    std::atomic<int> sets{0};
    printer.rig.printer.setHandler([&](const SentRequest& r) {
        if (r.code == 0x4F && ++sets == 2) control->setKVThreadAction(KVQSThreadControl::KVTA_STOP);
        return printer.store.respond(r);
    });
    HostWindow host;
    QuickSetup qs;
    unsigned long steps = 0;
    ASSERT_EQ(qs.bidiQuickSetupSend(printer.obj(), dir.file("f"), host.handle(), &steps, control.get(), 1), 0u);
    ASSERT_TRUE(host.waitFinished());
    EXPECT_EQ(printer.ids(0x4F), (std::vector<unsigned>{0x0101, 0x0102, 0x0201}));
    EXPECT_EQ(host.seen(), messages({step(1), step(2), step(3), kDone}));
}

TEST(QuickSetupWorker, StopDuringAReceiveDeletesTheFile) {
    TempDir dir;
    ConfigOverride config(kThreeAndTwo);
    StoredPrinter printer(0);
    storeThreeAndTwo(printer.store);
    std::unique_ptr<KVQSThreadControl> control(newControl(KVQSThreadControl::KVTA_NONE));
    printer.rig.printer.setHandler([&](const SentRequest& r) {
        control->setKVThreadAction(KVQSThreadControl::KVTA_STOP);
        return printer.store.respond(r);
    });
    HostWindow host;
    QuickSetup qs;
    ASSERT_EQ(qs.bidiQuickSetupReceive(printer.obj(), dir.file("f"), host.handle(), nullptr, control.get(), 1), 0u);
    ASSERT_TRUE(host.waitFinished());
    EXPECT_EQ(host.seen(), messages({step(1), kDone}));
    EXPECT_FALSE(exists(dir.file("f")));
}

TEST(QuickSetupWorker, ReceiveFailures) {
    ConfigOverride config(kThreeAndTwo);
    struct Case {
        const char* what;
        uint16_t refused;       // 0: none
        size_t longValue;       // length of variable 0x0202's value
        Messages expected;
        ByteVec list2;          // the list-2 records of the file, when one is left
        bool fileLeft;
    } cases[] = {
        {"list-1 read fails", 0x0101, 1, messages({error(33), kDone}), {}, false},
        {"later list-1 read fails", 0x0103, 1, messages({step(1), step(2), error(33), kDone}), {}, false},
        {"list-2 read fails", 0x0201, 1, messages({step(1), step(2), step(3), step(4), step(5), kDone}),
         hex("02 02 01 02"), true},
        {"list-2 value over 255 bytes", 0, 256, messages({step(1), step(2), step(3), step(4), step(5), kDone}),
         hex("02 01 01 01"), true},
    };
    for (const Case& c : cases) {
        TempDir dir;
        StoredPrinter printer(0);
        storeThreeAndTwo(printer.store);
        printer.store.set(0x0202, c.longValue == 1 ? ByteVec{2} : ByteVec(c.longValue, 0x20));
        if (c.refused) printer.store.refuse(c.refused);
        HostWindow host;
        QuickSetup qs;
        ASSERT_EQ(qs.bidiQuickSetupReceive(printer.obj(), dir.file("f"), host.handle(), nullptr, nullptr, 1), 0u);
        ASSERT_TRUE(host.waitFinished());
        EXPECT_EQ(host.seen(), c.expected) << c.what;
        ASSERT_EQ(exists(dir.file("f")), c.fileLeft) << c.what;
        if (!c.fileLeft) continue;
        _QSFFILE* file = nullptr;
        ASSERT_EQ(PtQsfOpen(dir.file("f").c_str(), 0, &file), 0) << c.what;
        unsigned char* records = nullptr;
        unsigned short count = 0;
        ASSERT_EQ(PtQsfGetVariables(file, 2, &records, &count), 0);
        ASSERT_EQ(count, 1u) << c.what;
        EXPECT_EQ(ByteVec(records, records + 4), c.list2) << c.what;
        PtMemFree(records);
        PtQsfClose(file);
    }
}

TEST(QuickSetupWorker, ListOneValueOverTwoHundredFiftyFiveBytesFailsTheReceive) {
    TempDir dir;
    ConfigOverride config("[PrinterType0]\nList1 = 0101\n");
    StoredPrinter printer(0);
    printer.store.set(0x0101, ByteVec(256, 1));
    HostWindow host;
    QuickSetup qs;
    ASSERT_EQ(qs.bidiQuickSetupReceive(printer.obj(), dir.file("f"), host.handle(), nullptr, nullptr, 1), 0u);
    ASSERT_TRUE(host.waitFinished());
    EXPECT_EQ(host.seen(), messages({error(33), kDone}));
    EXPECT_FALSE(exists(dir.file("f")));
}

TEST(QuickSetupWorker, SendRefusals) {
    struct Case {
        const char* what;
        uint16_t refused;
        std::vector<unsigned> sets;   // 0x4F requests sent
        Messages expected;
    } cases[] = {
        // An error on list 1 ends list 1 only; list 2 still starts.
        {"list 1", 0x0102, {0x0101, 0x0102, 0x0201, 0x0202}, messages({step(1), error(33), step(2), step(3), kDone})},
        // A refused list-2 variable counts as handled.
        {"list 2", 0x0201, {0x0101, 0x0102, 0x0103, 0x0201, 0x0202},
         messages({step(1), step(2), step(3), step(4), step(5), kDone})},
    };
    for (const Case& c : cases) {
        TempDir dir;
        writeThreeAndTwo(dir.file("f"));
        StoredPrinter printer(0);
        printer.store.refuse(c.refused);
        HostWindow host;
        QuickSetup qs;
        ASSERT_EQ(qs.bidiQuickSetupSend(printer.obj(), dir.file("f"), host.handle(), nullptr, nullptr, 1), 0u);
        ASSERT_TRUE(host.waitFinished());
        EXPECT_EQ(printer.ids(0x4F), c.sets) << c.what;
        EXPECT_EQ(host.seen(), c.expected) << c.what;
    }
}

TEST(QuickSetupWorker, HeaderWordFileRecords) {
    TempDir dir;
    writeFile(dir.file("f"), Bytes()
                                 .text("BIDI")
                                 .be16(0x0101).text("ab:")
                                 .be16(0x0102).text("x::")       // a value ending in a colon
                                 .text("\x01:")                  // shorter than an id: skipped
                                 .be16(0x0103).text(":")         // an empty value
                                 .be16(0x0104).text("zz")        // no colon: not sent
                                 .vec());
    StoredPrinter printer(0);
    HostWindow host;
    QuickSetup qs;
    unsigned long steps = 0;
    ASSERT_EQ(qs.bidiQuickSetupSend(printer.obj(), dir.file("f"), host.handle(), &steps, nullptr, 7), 0u);
    EXPECT_EQ(steps, 10u);   // the printer type's 70 variables
    ASSERT_TRUE(host.waitFinished());
    EXPECT_EQ(host.seen(), messages({kDone}));
    EXPECT_EQ(printer.ids(0x4F), (std::vector<unsigned>{0x0101, 0x0102, 0x0103}));
    EXPECT_EQ(printer.store.get(0x0101), hex("61 62"));
    EXPECT_EQ(printer.store.get(0x0102), hex("78 3A"));
    EXPECT_EQ(printer.store.get(0x0103), ByteVec{});

    HostWindow host2;
    ASSERT_EQ(qs.bidiQuickSetupSend(printer.obj(), dir.file("f"), host2.handle(), &steps, nullptr, 1), 0u);
    ASSERT_TRUE(host2.waitFinished());
    EXPECT_EQ(host2.seen(), messages({step(1), step(2), step(3), kDone}));

    printer.store.refuse(0x0102);
    HostWindow host3;
    ASSERT_EQ(qs.bidiQuickSetupSend(printer.obj(), dir.file("f"), host3.handle(), &steps, nullptr, 1), 0u);
    ASSERT_TRUE(host3.waitFinished());
    EXPECT_EQ(host3.seen(), messages({step(1), error(33), kDone}));
}

// The caller's pending messages are dispatched inside the call, before the
// worker starts; these tests use that moment to change the world under it.
TEST(QuickSetupWorker, FailuresFoundByTheWorker) {
    struct Case {
        const char* what;
        bool send;
        std::function<void(TempDir&, std::optional<EnvOverride>&)> change;
        Messages expected;
    } cases[] = {
        {"file gone", true, [](TempDir& d, auto&) { std::filesystem::remove(d.file("f")); },
         messages({error(18), kDone})},
        {"no longer a Quick Setup file", true,
         [](TempDir& d, auto&) { writeFile(d.file("f"), Bytes().text("NOT A FILE").vec()); },
         messages({error(20), kDone})},
        {"shorter than the header word", true, [](TempDir& d, auto&) { writeFile(d.file("f"), hex("42 49")); },
         messages({error(21), kDone})},
        {"worker's file library incomplete (send)", true,
         [](TempDir&, auto& env) { env.emplace("KVPRTOBJ_QSFLIB", incompleteLibrary()); },
         messages({error(1), kDone})},
        {"worker's file library incomplete (receive)", false,
         [](TempDir&, auto& env) { env.emplace("KVPRTOBJ_QSFLIB", incompleteLibrary()); },
         messages({error(1), kDone})},
        {"cannot create the file", false,
         [](TempDir& d, auto&) { std::filesystem::create_directory(d.file("f")); },
         messages({error(18), kDone})},
    };
    ConfigOverride config(kThreeAndTwo);
    for (const Case& c : cases) {
        TempDir dir;
        if (c.send) writeThreeAndTwo(dir.file("f"));
        StoredPrinter printer(0);
        storeThreeAndTwo(printer.store);
        std::optional<EnvOverride> env;
        HostWindow host;
        bool dispatched = false;
        host.onOther = [&](UINT message) {
            if (message != WM_USER + 1) return;
            dispatched = true;
            c.change(dir, env);
        };
        PostMessageA(host.handle(), WM_USER + 1, 0, 0);
        QuickSetup qs;
        auto rc = c.send ? qs.bidiQuickSetupSend(printer.obj(), dir.file("f"), host.handle(), nullptr, nullptr, 1)
                         : qs.bidiQuickSetupReceive(printer.obj(), dir.file("f"), host.handle(), nullptr, nullptr, 1);
        ASSERT_EQ(rc, 0u) << c.what;
        EXPECT_TRUE(dispatched) << c.what;
        ASSERT_TRUE(host.waitFinished()) << c.what;
        EXPECT_EQ(host.seen(), c.expected) << c.what;
        EXPECT_EQ(printer.rig.printer.requestCount(), 0u) << c.what;
        if (!c.send) {
            EXPECT_FALSE(std::filesystem::is_regular_file(dir.file("f"))) << c.what;
        }
    }
}

TEST(QuickSetupWorker, ThreadThatCannotStartGivesFourAndNoMessage) {
    TempDir dir;
    writeThreeAndTwo(dir.file("send"));
    ConfigOverride config(kThreeAndTwo);
    StoredPrinter printer(0);
    HostWindow host;
    QuickSetup qs;
    unsigned long steps = 0;
    AfxFailThreadStarts(2);
    EXPECT_EQ(qs.bidiQuickSetupSend(printer.obj(), dir.file("send"), host.handle(), &steps, nullptr, 1), 4u);
    EXPECT_EQ(qs.bidiQuickSetupReceive(printer.obj(), dir.file("recv"), host.handle(), &steps, nullptr, 1), 4u);
    AfxFailThreadStarts(0);
    MSG msg;
    while (GetMessageTimeout(&msg, nullptr, 50) == 1) DispatchMessageA(&msg);
    EXPECT_TRUE(host.seen().empty());
    EXPECT_EQ(printer.rig.printer.requestCount(), 0u);
    EXPECT_FALSE(exists(dir.file("recv")));
}

TEST(QuickSetupWorker, VerificationsOnSeveralThreadsAtOnce) {
    TempDir dir;
    writeThreeAndTwo(dir.file("lib"));
    writeFile(dir.file("word"), Bytes().text("BIDI").be16(0x0101).text("1:").vec());
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            OpenPrtObj printer;
            printer.setPrinterType(0);
            for (int i = 0; i < 25; ++i) {
                QuickSetup::FileFormat format;
                if (QuickSetup::verifyQuickSetupFile(&printer, dir.file("lib"), format, nullptr) != 0 ||
                    format != QuickSetup::QSF_LIBRARY)
                    ++wrong;
                if (QuickSetup::verifyQuickSetupFile(&printer, dir.file("word"), format, nullptr) != 0 ||
                    format != QuickSetup::QSF_HEADER_WORD)
                    ++wrong;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

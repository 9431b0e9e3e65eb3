// The worker's stop, failure and header-word paths; verifications on several threads.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <atomic>
#include <filesystem>
#include <functional>
#include <iterator>
#include <optional>
#include <thread>

#include "qs_fixture.h"
#include "qsf_image.h"

using namespace kvtest;
using namespace qstest;

namespace {

const Message kDone{kFinished, 0};
Message error(LPARAM code) { return {kError, code}; }
Message step(LPARAM n) { return {kProgress, n}; }
bool exists(const std::string& path) { return std::filesystem::exists(path); }

std::unique_ptr<KVQSThreadControl> control(KVQSThreadControl::KVThreadAction action) {
    return std::make_unique<KVQSThreadControl>("", nullptr, 0, nullptr, 0, nullptr, 0, action);
}

// Lists of 3 and 2 variables: a library file of printer type 0, its configuration, a printer holding them.
void writeThreeAndTwo(const std::string& path) {
    writeQsfFile(path, QsfImage(0)
                           .list1({{0x0101, {1}}, {0x0102, {2}}, {0x0103, {3}}})
                           .list2({{0x0201, {4}}, {0x0202, {5}}})
                           .bytes());
}
constexpr const char kThreeAndTwo[] = "[PrinterType0]\nList1 = 0101 0102 0103\nList2 = 0201 0202\n";
struct ThreeAndTwoPrinter : StoredPrinter {
    ThreeAndTwoPrinter() {
        for (uint16_t id : {0x0101, 0x0102, 0x0103, 0x0201, 0x0202}) store.set(id, {static_cast<uint8_t>(id)});
    }
};

}  // namespace

TEST(QuickSetupWorker, StopRequests) {
    TempDir dir;
    writeThreeAndTwo(dir.file("send"));
    ConfigOverride config(kThreeAndTwo);
    {   // before the worker runs: only (10, 0), no request, no file
        ThreeAndTwoPrinter printer;
        auto stop = control(KVQSThreadControl::KVTA_STOP);
        EXPECT_EQ(transfer(true, printer.obj(), dir.file("send"), 1, stop.get()), Messages{kDone});
        EXPECT_EQ(transfer(false, printer.obj(), dir.file("recv"), 1, stop.get()), Messages{kDone});
        EXPECT_EQ(std::tuple(printer.rig.printer.requestCount(), exists(dir.file("recv"))), std::tuple(0u, false));
    }
    for (bool send : {true, false}) {   // at the second variable
        ThreeAndTwoPrinter printer;
        auto ctl = control(KVQSThreadControl::KVTA_NONE);
        std::atomic<int> requests{0};
        printer.rig.printer.setHandler([&](const SentRequest& r) {
            if (++requests == 2) ctl->setKVThreadAction(KVQSThreadControl::KVTA_STOP);
            return printer.store.respond(r);
        });
        Messages seen = transfer(send, printer.obj(), dir.file(send ? "send" : "recv"), 1, ctl.get());
        if (send) {
            // The flags are cleared per list: list 2 starts, and stops after its first variable.
            EXPECT_EQ(printer.ids(0x4F), (std::vector<unsigned>{0x0101, 0x0102, 0x0201}));
            EXPECT_EQ(seen, (Messages{step(1), step(2), step(3), kDone}));
        } else {
            EXPECT_EQ(seen, (Messages{step(1), step(2), kDone}));
            EXPECT_FALSE(exists(dir.file("recv")));
        }
    }
}

TEST(QuickSetupWorker, ReceiveFailures) {
    ConfigOverride config(kThreeAndTwo);
    const Messages allFive{step(1), step(2), step(3), step(4), step(5), kDone};
    struct Case {
        const char* what;
        uint16_t refused;    // a variable the printer does not answer
        uint16_t tooLong;    // a variable with a 256-byte value
        Messages expected;
        std::optional<QsfRecord> list2;   // the one list-2 record of the file left behind; none: no file
    } cases[] = {
        {"later list-1 read fails", 0x0103, 0, {step(1), step(2), error(33), kDone}, {}},
        {"list-1 value too long", 0, 0x0101, {error(33), kDone}, {}},
        {"list-2 read passed over", 0x0201, 0, allFive, QsfRecord{0x0202, {2}}},
        {"list-2 value too long", 0, 0x0202, allFive, QsfRecord{0x0201, {1}}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        ThreeAndTwoPrinter printer;
        if (c.refused) printer.store.refuse(c.refused);
        if (c.tooLong) printer.store.set(c.tooLong, ByteVec(256, 0x20));
        EXPECT_EQ(transfer(false, printer.obj(), dir.file("f")), c.expected) << c.what;
        ASSERT_EQ(exists(dir.file("f")), c.list2.has_value()) << c.what;
        if (!c.list2) continue;
        const QsfImage image = QsfImage(0).list1({{0x0101, {1}}, {0x0102, {2}}, {0x0103, {3}}}).list2({*c.list2});
        writeQsfFile(dir.file("expected"), image.bytes());
        EXPECT_EQ(toHex(readFile(dir.file("f"))), toHex(readFile(dir.file("expected")))) << c.what;
    }
}

// What stands at a receive's target is left as it was unless the receive completes.
TEST(QuickSetupWorker, ReceiveNeverHarmsWhatIsAtItsTarget) {
    namespace fs = std::filesystem;
    ConfigOverride config(kThreeAndTwo);
    const ByteVec original = hex("4F 52 49 47");
    enum Outcome { kReplaced, kFailed, kStopped, kRefused };
    struct Case {
        const char* what;
        std::function<void(TempDir&)> make;   // what stands at dir/target, beside dir/other
        Outcome outcome;
    } cases[] = {
        {"regular file, receive completes", [&](TempDir& d) { writeFile(d.file("target"), original); }, kReplaced},
        {"regular file, list-1 read fails", [&](TempDir& d) { writeFile(d.file("target"), original); }, kFailed},
        {"regular file, receive stopped", [&](TempDir& d) { writeFile(d.file("target"), original); }, kStopped},
        {"link to a file", [&](TempDir& d) {
             writeFile(d.file("other"), original);
             fs::create_symlink(d.file("other"), d.file("target"));
         }, kRefused},
        {"dangling link", [](TempDir& d) { fs::create_symlink(d.file("other"), d.file("target")); }, kRefused},
        {"FIFO", [](TempDir& d) { ASSERT_EQ(::mkfifo(d.file("target").c_str(), 0600), 0); }, kRefused},
        {"folder", [](TempDir& d) { fs::create_directory(d.file("target")); }, kRefused},
    };
    for (const Case& c : cases) {
        TempDir dir;
        c.make(dir);
        if (fs::is_regular_file(fs::symlink_status(dir.file("target"))))
            fs::permissions(dir.file("target"), fs::perms::owner_read | fs::perms::owner_write | fs::perms::group_read);
        const auto before = fs::symlink_status(dir.file("target"));
        ThreeAndTwoPrinter printer;
        if (c.outcome == kFailed) printer.store.refuse(0x0103);
        auto ctl = control(c.outcome == kStopped ? KVQSThreadControl::KVTA_STOP : KVQSThreadControl::KVTA_NONE);
        Messages seen = transfer(false, printer.obj(), dir.file("target"), 1, ctl.get());
        EXPECT_EQ(seen.size() == 2 && seen[0] == error(18), c.outcome == kRefused) << c.what;
        const auto after = fs::symlink_status(dir.file("target"));
        EXPECT_EQ(after.type(), before.type()) << c.what;
        EXPECT_EQ(after.permissions(), before.permissions()) << c.what;   // replaced: its mode kept
        if (fs::is_regular_file(after)) {
            const ByteVec now = readFile(dir.file("target"));
            EXPECT_TRUE(c.outcome == kReplaced ? now.size() == 74 + 5 * 4 : now == original) << c.what;
        }
        EXPECT_TRUE(!fs::exists(dir.file("other")) || readFile(dir.file("other")) == original) << c.what;
        size_t entries = std::distance(fs::directory_iterator(dir.file("")), fs::directory_iterator());
        EXPECT_EQ(entries, fs::exists(fs::symlink_status(dir.file("other"))) ? 2u : 1u)
            << c.what << ": a file left behind";
    }
}

TEST(QuickSetupWorker, SendRefusals) {
    struct Case {
        uint16_t refused;
        std::vector<unsigned> sets;
        Messages expected;
    } cases[] = {
        // An error ends list 1 only; list 2 still starts.
        {0x0102, {0x0101, 0x0102, 0x0201, 0x0202}, {step(1), error(33), step(2), step(3), kDone}},
        // A refused list-2 variable counts as handled.
        {0x0201, {0x0101, 0x0102, 0x0103, 0x0201, 0x0202}, {step(1), step(2), step(3), step(4), step(5), kDone}},
    };
    for (const Case& c : cases) {
        TempDir dir;
        writeThreeAndTwo(dir.file("f"));
        StoredPrinter printer(0);
        printer.store.refuse(c.refused);
        EXPECT_EQ(transfer(true, printer.obj(), dir.file("f")), c.expected) << c.refused;
        EXPECT_EQ(printer.ids(0x4F), c.sets) << c.refused;
    }
}

TEST(QuickSetupWorker, HeaderWordFileRecords) {
    TempDir dir;
    writeFile(dir.file("f"), Bytes()
                                 .text("BIDI")
                                 .be16(0x0101).text("ab:")
                                 .be16(0x0102).text("x::")   // a value ending in a colon
                                 .text("\x01:")              // shorter than an id: skipped
                                 .be16(0x0103).text(":")     // an empty value
                                 .be16(0x0104).text("zz")    // no colon: not sent
                                 .vec());
    StoredPrinter printer(0);
    unsigned long steps = 0;
    EXPECT_EQ(transfer(true, printer.obj(), dir.file("f"), 7, nullptr, &steps), Messages{kDone});
    EXPECT_EQ(steps, 10u);   // the printer type's 70 variables
    EXPECT_EQ(printer.ids(0x4F), (std::vector<unsigned>{0x0101, 0x0102, 0x0103}));
    EXPECT_EQ(std::tuple(printer.store.get(0x0101), printer.store.get(0x0102), printer.store.get(0x0103)),
              std::tuple(hex("61 62"), hex("78 3A"), ByteVec{}));

    EXPECT_EQ(transfer(true, printer.obj(), dir.file("f"), 2), (Messages{step(1), kDone}));   // after the second
    printer.store.refuse(0x0102);
    EXPECT_EQ(transfer(true, printer.obj(), dir.file("f")), (Messages{step(1), error(33), kDone}));
}

// The caller's pending messages are dispatched before the worker starts: the moment to change the world under it.
TEST(QuickSetupWorker, FailuresFoundByTheWorker) {
    using Change = std::function<void(TempDir&, std::optional<EnvOverride>&)>;
    const Change incomplete = [](TempDir&, auto& env) { env.emplace("KVPRTOBJ_QSFLIB", incompleteLibrary()); };
    struct Case {
        const char* what;
        bool send;
        Change change;
        LPARAM code;
    } cases[] = {
        {"file gone", true, [](TempDir& d, auto&) { std::filesystem::remove(d.file("f")); }, 18},
        {"not a Quick Setup file", true, [](TempDir& d, auto&) { writeFile(d.file("f"), hex("4E 4F 54 20 41")); }, 20},
        {"shorter than the header word", true, [](TempDir& d, auto&) { writeFile(d.file("f"), hex("42 49")); }, 21},
        {"incomplete file library (send)", true, incomplete, 1},
        {"incomplete file library (receive)", false, incomplete, 1},
        {"file cannot be created", false, [](TempDir& d, auto&) { std::filesystem::create_directory(d.file("f")); }, 18},
    };
    ConfigOverride config(kThreeAndTwo);
    for (const Case& c : cases) {
        TempDir dir;
        if (c.send) writeThreeAndTwo(dir.file("f"));
        ThreeAndTwoPrinter printer;
        std::optional<EnvOverride> env;
        HostWindow host;
        host.onOther = [&](UINT message) {
            if (message == WM_USER + 1) c.change(dir, env);
        };
        PostMessageA(host.handle(), WM_USER + 1, 0, 0);
        QuickSetup qs;
        auto rc = c.send ? qs.bidiQuickSetupSend(printer.obj(), dir.file("f"), host.handle(), nullptr, nullptr, 1)
                         : qs.bidiQuickSetupReceive(printer.obj(), dir.file("f"), host.handle(), nullptr, nullptr, 1);
        ASSERT_EQ(rc, 0u) << c.what;
        ASSERT_TRUE(host.waitFinished()) << c.what;
        EXPECT_EQ(host.seen(), (Messages{error(c.code), kDone})) << c.what;
        EXPECT_EQ(printer.rig.printer.requestCount(), 0u) << c.what;
        EXPECT_TRUE(c.send || !std::filesystem::is_regular_file(dir.file("f"))) << c.what;
    }
}

TEST(QuickSetupWorker, ThreadThatCannotStartGivesFourAndNoMessage) {
    TempDir dir;
    writeThreeAndTwo(dir.file("send"));
    ConfigOverride config(kThreeAndTwo);
    StoredPrinter printer(0);
    HostWindow host;
    QuickSetup qs;
    AfxFailThreadStarts(2);
    EXPECT_EQ(qs.bidiQuickSetupSend(printer.obj(), dir.file("send"), host.handle(), nullptr, nullptr, 1), 4u);
    EXPECT_EQ(qs.bidiQuickSetupReceive(printer.obj(), dir.file("recv"), host.handle(), nullptr, nullptr, 1), 4u);
    AfxFailThreadStarts(0);
    MSG msg;
    while (GetMessageTimeout(&msg, nullptr, 50) == 1) DispatchMessageA(&msg);
    EXPECT_EQ(std::tuple(host.seen().size(), printer.rig.printer.requestCount(), exists(dir.file("recv"))),
              std::tuple(0u, 0u, false));
}

TEST(QuickSetupWorker, VerificationsOnSeveralThreadsAtOnce) {
    TempDir dir;
    writeThreeAndTwo(dir.file("lib"));
    writeFile(dir.file("word"), Bytes().text("BIDI").be16(0x0101).text("1:").vec());
    const std::pair<std::string, QuickSetup::FileFormat> files[] = {{dir.file("lib"), QuickSetup::QSF_LIBRARY},
                                                                    {dir.file("word"), QuickSetup::QSF_HEADER_WORD}};
    std::atomic<int> wrong{0};
    std::vector<std::thread> threads;
    for (int t = 0; t < 4; ++t)
        threads.emplace_back([&] {
            for (int i = 0; i < 50; ++i) {
                OpenPrtObj printer;
                printer.setPrinterType(0);
                QuickSetup::FileFormat format;
                const auto& [path, expected] = files[i % 2];
                if (QuickSetup::verifyQuickSetupFile(&printer, path, format, nullptr) != 0 || format != expected) ++wrong;
            }
        });
    for (auto& t : threads) t.join();
    EXPECT_EQ(wrong.load(), 0);
}

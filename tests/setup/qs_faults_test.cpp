#include <gtest/gtest.h>

#include <chrono>
#include <filesystem>

#include "qs_fixture.h"
#include "sim_daemon.h"

using namespace qstest;

TEST(QuickSetupFaults, ReceiveWhoseDaemonDiesLeavesNoFileAndReportsTheErrorThenTheEnd) {
    // Every reply waits, so that the daemon dies after the first variable.
    kvtest::SimDaemon daemon(KVPRTSIMD, {"--delay-ms", "50"});
    unsigned short handle = 0;
    ASSERT_EQ(BceOpenPrinter(daemon.uri("", "timeout=2000").c_str(), &handle), 0);
    kvtest::OpenPrtObj printer(handle, KVPrtObj::PRINTER_TYPE_0, 0);
    printer.setBidi(1);
    ConfigOverride config("[PrinterType0]\nList1 = 0101 0102 0103 0104 0105 0106 0107 0108\nList2 = 0201\n");
    kvtest::TempDir dir;

    HostWindow host;
    QuickSetup qs;
    unsigned long steps = 0;
    ASSERT_EQ(qs.bidiQuickSetupReceive(&printer, dir.file("f"), host.handle(), &steps, nullptr, 1), 0u);
    auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(20);
    while (host.seen().empty() && std::chrono::steady_clock::now() < deadline) {
        MSG msg;
        if (GetMessageTimeout(&msg, nullptr, 100) == 1) DispatchMessageA(&msg);
    }
    ASSERT_EQ(host.seen(), (Messages{{kProgress, 1}}));
    daemon.kill();   // replies still held back by the delay never come
    ASSERT_TRUE(host.waitFinished());

    // Progress up to the failed read, then the error and the end.
    const Messages& seen = host.seen();
    ASSERT_GE(seen.size(), 3u);
    EXPECT_LT(seen.size(), 11u);
    for (size_t i = 0; i + 2 < seen.size(); ++i) EXPECT_EQ(seen[i], (Message{kProgress, static_cast<LPARAM>(i + 1)}));
    EXPECT_EQ(seen[seen.size() - 2], (Message{kError, QuickSetup::QSE_VARIABLE}));
    EXPECT_EQ(seen.back(), (Message{kFinished, 0}));
    EXPECT_FALSE(std::filesystem::exists(dir.file("f")));
    BceClosePrinter(handle);
}

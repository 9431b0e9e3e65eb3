// The IPP client and fill against the real ippeveprinter: the printer's
// attributes into a snapshot, a submitted job listed and cancelled, and the
// printer's refusals as results.
#include <gtest/gtest.h>

#include <fstream>

#include "golden.h"
#include "ipp/client.h"
#include "ipp/fill.h"
#include "ipp_peer.h"
#include "kvprtobj/zorbce.h"
#include "loop.h"
#include "snapshot_text.h"

using namespace kvnet::ipp;
using kvtest::onLoop;

namespace {

const std::string kDir = KVNET_IPP_TEST_DIR;

class IppPeer : public ::testing::Test {
protected:
    void SetUp() override {
        if (!kvtest::IppEvePeer::available())
            GTEST_SKIP() << "ippeveprinter, ipptool or dbus-daemon is not installed (apt-get install cups-ipp-utils dbus)";
        m_peer = std::make_unique<kvtest::IppEvePeer>(kDir + "/printer.attrs");
        m_client = client("/ipp/print");
    }
    void TearDown() override {
        for (auto& c : m_clients) kvtest::runOnLoop([c] { c->close(); });
    }

    std::shared_ptr<Client> client(const std::string& path) {
        kvnet::NetOptions options;
        options.host = "localhost";
        options.ippPort = m_peer->port();
        options.ippPath = path;
        m_clients.push_back(Client::create(options));
        return m_clients.back();
    }
    // Calls `call(client, done)` on the loop and waits for the result.
    template <class Call>
    Result ask(const std::shared_ptr<Client>& c, Call call) {
        auto r = onLoop<Result>([c, call](auto done) { call(*c, done); });
        return r.value_or(Result{1, {}, "no result"});
    }
    static void attributes(Client& c, Callback done) { c.getPrinterAttributes(printerAttributes(), done); }

    std::unique_ptr<kvtest::IppEvePeer> m_peer;
    std::shared_ptr<Client> m_client;
    std::vector<std::shared_ptr<Client>> m_clients;
};

TEST_F(IppPeer, FillsTheSnapshotFromThePrintersAttributes) {
    Result r = ask(m_client, attributes);
    ASSERT_EQ(r.rc, 0) << r.error;
    kvnet::Snapshot snapshot;
    fillPrinter(r.response.printer, &snapshot);
    kvtest::expectGolden(kDir + "/peer.golden", [&](const std::string&) { return kvtest::describeSnapshot(snapshot); });
}

TEST_F(IppPeer, ListsASubmittedJobAndCancelsIt) {
    kvtest::TempDir dir;
    std::ofstream(dir.file("page.bin")) << "a page of the IPP tests\n";
    ASSERT_EQ(m_peer->ipptool(kDir + "/print-job.test", dir.file("page.bin")), 0) << m_peer->log();

    Result listed = ask(m_client, [](Client& c, Callback done) { c.getJobs(done); });
    ASSERT_EQ(listed.rc, 0) << listed.error;
    kvnet::Snapshot snapshot;
    JobNumbers numbers;
    fillJobs(listed.response.jobs, numbers, &snapshot);
    ASSERT_EQ(snapshot.profile.jobs.size(), 1u) << kvtest::describeJobs(snapshot);
    const kvsim::Job& job = snapshot.profile.jobs.front();
    EXPECT_EQ(job.info1, "JN=kv_report_1;UR=kvtest-user");
    EXPECT_GE(job.byte0, 1);   // pending, held or processing
    EXPECT_LE(job.byte0, 3);
    EXPECT_TRUE(snapshot.answers(kvbidi::kQueryJobs));

    auto jobId = numbers.jobIdOf(job.number);
    ASSERT_TRUE(jobId);
    Result cancelled = ask(m_client, [id = *jobId](Client& c, Callback done) { c.cancelJob(id, done); });
    EXPECT_EQ(cancelled.rc, 0) << cancelled.error;
}

TEST_F(IppPeer, ReportsThePrintersRefusalsAsInvalid) {
    Result unknownJob = ask(m_client, [](Client& c, Callback done) { c.cancelJob(9999, done); });
    EXPECT_EQ(unknownJob.rc, BCE_E_INVALID);
    EXPECT_NE(unknownJob.error.find("client-error-not-found"), std::string::npos) << unknownJob.error;

    Result wrongPath = ask(client("/ipp/nothing"), attributes);
    EXPECT_EQ(wrongPath.rc, BCE_E_INVALID) << wrongPath.error;
}

}  // namespace

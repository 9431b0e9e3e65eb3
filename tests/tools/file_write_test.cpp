// kvprt's files written whole or not at all (tools/kvprt/file_write.h): a
// write that fails leaves nothing behind and the target as it was. Links
// and missing folders: tests/tools/snapshot.golden.md.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <csignal>
#include <filesystem>
#include <fstream>

#include "temp_dir.h"
#include "tools/kvprt/file_write.h"

namespace {

// Whether writing 8 KiB to `path` fails with `expected`, in a child limited
// to files of 4 KiB and, when it runs as root (whom no mode stops), as nobody.
bool failsWith(const std::string& path, const std::string& expected) {
    pid_t pid = ::fork();
    if (pid == 0) {
        constexpr uid_t kNobody = 65534;
        const rlimit size{4096, 4096};
        std::signal(SIGXFSZ, SIG_IGN);
        const bool ready = ::setrlimit(RLIMIT_FSIZE, &size) == 0 &&
                           (::geteuid() != 0 || (::setgid(kNobody) == 0 && ::setuid(kNobody) == 0));
        std::string error;
        const bool failed = !kvprt::replaceFile(path, std::string(8192, 'x'), &error);
        ::_exit(ready && failed && error == path + ": " + expected ? 0 : 1);
    }
    int status = 0;
    ::waitpid(pid, &status, 0);
    return WIFEXITED(status) && WEXITSTATUS(status) == 0;
}

TEST(KvprtFileWrite, AFailedWriteLeavesNothingBehindAndTheTargetAsItWas) {
    kvtest::TempDir dir;
    const std::string readOnly = dir.file("read-only"), open = dir.file("open");
    std::filesystem::create_directories(readOnly);
    std::filesystem::create_directories(open);
    ASSERT_EQ(::chmod(readOnly.c_str(), 0555), 0);
    ASSERT_EQ(::chmod(open.c_str(), 0777), 0);
    std::ofstream(open + "/p.json") << "old";
    EXPECT_TRUE(failsWith(readOnly + "/p.json", "Permission denied"));
    EXPECT_TRUE(failsWith(open + "/p.json", "File too large"));   // after its temporary file was made
    EXPECT_TRUE(std::filesystem::is_empty(readOnly));
    EXPECT_EQ(std::distance(std::filesystem::directory_iterator(open), {}), 1);
    EXPECT_EQ(kvtest::readText(open + "/p.json"), "old");
}

}  // namespace

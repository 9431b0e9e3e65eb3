// net:// URIs: every option read into its field, every refusal naming its
// option without a secret (uris.golden), and the credentials file's guards.
#include <gtest/gtest.h>

#include <sys/stat.h>

#include <cstdlib>
#include <fstream>
#include <sstream>

#include "golden.h"
#include "options.h"

using kvnet::NetOptions;

namespace {

std::string describe(const NetOptions& o) {
    std::ostringstream out;
    const char* const versions[] = {"1", "2c", "3"};
    out << o.host << " p" << o.protocols << " snmp " << o.snmpPort << "/v" << versions[static_cast<int>(o.snmpVersion)] << "/"
        << o.community << " ipp " << o.ippPort << o.ippPath << " t" << o.timeoutMs << " poll " << o.pollSeconds;
    if (o.protocols & kvnet::kPjl) out << " pjl " << o.pjlPort << " allow=" << o.allowed << (o.ustatus ? " ustatus" : "");
    if (!o.credentials.entry.empty()) out << " auth " << o.credentials.entry << "/" << o.credentials.user;
    return out.str();
}

std::string parse(const std::string& uri) {
    NetOptions o;
    std::string error;
    return kvnet::parseNetUri(uri, &o, &error) ? describe(o) : "error: " + error;
}

class Credentials : public ::testing::Test {
protected:
    void SetUp() override { ::setenv("KVPRTOBJ_NET_CREDENTIALS", path.c_str(), 1); }
    void TearDown() override { ::unsetenv("KVPRTOBJ_NET_CREDENTIALS"); }
    void write(const std::string& text, mode_t mode = 0600) {
        std::ofstream(path) << text;
        ::chmod(path.c_str(), mode);
    }
    kvtest::TempDir dir;
    std::string path = dir.file("credentials.toml");
};

}  // namespace

// uris.golden: a URI a line, with what it gives.
TEST(NetUri, OptionsAndRefusals) {
    kvtest::expectGolden(KVNET_CORE_DIR "/uris.golden", parse);
    EXPECT_EQ(parse("net://h?community=" + std::string(256, 'x')).substr(0, 35), "error: malformed value of community");
}

TEST_F(Credentials, AnEntryReplacesTheUrisVersionAndCommunity) {
    write("[office]\nsnmp-version = \"3\"\nuser = \"monitor\"\nauth-protocol = \"SHA\"\nauth-key = \"k1\"\n"
          "[lab]\ncommunity = \"lab-only\"\nwrite-community = \"w\"\n");
    EXPECT_EQ(parse("net://h?auth=office"), "h p3 snmp 161/v3/public ipp 631/ipp/print t5000 poll 30 auth office/monitor");
    EXPECT_EQ(parse("net://h?community=x&auth=lab"), "h p3 snmp 161/v2c/lab-only ipp 631/ipp/print t5000 poll 30 auth lab/");
}

TEST_F(Credentials, UnsafeOrBrokenFilesAreRefusedWithoutTheirSecrets) {
    const std::pair<std::string, std::string> files[] = {
        {"[office]\nuser = \"u\"\n", "has no entry [lab]"},
        {"[lab]\npassword = \"secret\"\n", "entry [lab] of " + path + ": unknown key \"password\""},
        {"[lab]\nuser = 7\n", "user must be a string of at most 255 bytes"},
        {"[lab]\nsnmp-version = \"3\"\n", "snmp-version 3 needs a user"},
        {"[lab]\npriv-key = \"secret\"\n", "a priv-key needs an auth-key"},
        {"[lab\nuser = \"secret\"\n", "is not valid TOML"},
    };
    for (const auto& [text, message] : files) {
        write(text);
        std::string got = parse("net://h?auth=lab");
        EXPECT_NE(got.find(message), std::string::npos) << got;
        EXPECT_EQ(got.find("secret"), std::string::npos) << got;
    }
    write("[lab]\nuser = \"u\"\n", 0640);
    EXPECT_EQ(parse("net://h?auth=lab"), "error: the credentials file " + path +
                                             " may be read or written by others (mode 0640): make it 0600");
    ::unlink(path.c_str());
    EXPECT_EQ(parse("net://h?auth=lab"), "error: the credentials file " + path + " cannot be read: No such file or directory");
    ::mkfifo(path.c_str(), 0600);   // never waited on
    EXPECT_EQ(parse("net://h?auth=lab"), "error: the credentials file " + path + " is not a regular file");
}

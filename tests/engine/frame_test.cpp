#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <chrono>
#include <cstring>
#include <tuple>

#include "bytes.h"
#include "wire/frame.h"
#include "wire/socket.h"

using namespace kvwire;

TEST(WireFrame, HeaderLayoutIsMagicVersionTypeIdLengthAndPartialFramesNeedMore) {
    Frame header{kSendBidi, 0x01020304, {0xAA, 0xBB}};
    EXPECT_EQ(kvtest::toHex(encodeFrame(header)), "4B 42 01 02 01 02 03 04 00 00 00 02 AA BB");

    // Whole frames are decoded; partial ones ask for more.
    Bytes two = encodeFrame(Frame{kGetName | kReplyBit, 7, {1, 2, 3}});
    Bytes second = encodeFrame(Frame{kAlert, 0, {9}});
    two.insert(two.end(), second.begin(), second.end());

    Frame f;
    size_t used = 0;
    for (size_t n = 0; n < 15; ++n) EXPECT_EQ(decodeFrame(two.data(), n, &f, &used), Decode::NeedMore) << n;
    ASSERT_EQ(decodeFrame(two.data(), two.size(), &f, &used), Decode::Ok);
    EXPECT_EQ(std::tuple(used, f.type, f.id, f.payload), std::tuple(size_t{15}, kGetName | kReplyBit, 7u, Bytes{1, 2, 3}));
    ASSERT_EQ(decodeFrame(two.data() + used, two.size() - used, &f, &used), Decode::Ok);
    EXPECT_EQ(f.type, kAlert);
}

TEST(WireFrame, RefusesWhatIsNotAFrame) {
    const std::pair<const char*, Bytes> cases[] = {
        {"wrong magic, caught at once", {'G', 'A'}},
        {"wrong version", kvtest::hex("4B 42 02 02 00 00 00 01 00 00 00 00")},
        {"unknown type", kvtest::hex("4B 42 01 09 00 00 00 01 00 00 00 00")},
        {"unknown reply type", kvtest::hex("4B 42 01 87 00 00 00 01 00 00 00 00")},
        {"payload above the limit", kvtest::hex("4B 42 01 02 00 00 00 01 00 10 00 01")},
    };
    for (const auto& [name, bytes] : cases) {
        Frame f;
        size_t used = 0;
        EXPECT_EQ(decodeFrame(bytes.data(), bytes.size(), &f, &used), Decode::Malformed) << name;
    }
}

// Every message travels end to end over TCP in the daemon and round-trip
// suites; here only what those cannot see: the size and byte order on the wire.
TEST(WirePayloads, PrinterInformationTravelsWholeAndBigEndian) {
    PRTINFO info{};
    info.usFlags = 0x8002;
    std::strcpy(info.szPortName, "IP_1");
    PrtInfoReply back;
    Bytes encoded = encode(PrtInfoReply{0, info});
    EXPECT_EQ(std::tuple(encoded.size(), encoded[4 + 88]), std::tuple(4u + sizeof(PRTINFO), 0x80));
    ASSERT_TRUE(decode(encoded, &back));
    EXPECT_EQ(std::tuple(back.info.usFlags, std::string(back.info.szPortName)),
              std::tuple(0x8002, std::string("IP_1")));
}

TEST(WirePayloads, ShortLongAndInconsistentPayloadsAreRefused) {
    Bytes good = encode(SendBidiRequest{0, 0, 1, 16, {1, 2, 3}});
    SendBidiRequest r;
    for (size_t n = 0; n < good.size(); ++n)
        EXPECT_FALSE(decode(Bytes(good.begin(), good.begin() + static_cast<long>(n)), &r)) << n;
    Bytes longer = good;
    longer.push_back(0);
    EXPECT_FALSE(decode(longer, &r));
    // A blob that claims more bytes than follow.
    Bytes lying = kvtest::hex("00 00 00 00 00 00 00 00 00 10 FF FF FF FF 01");
    EXPECT_FALSE(decode(lying, &r));
    // Texts at their limit pass, one byte more is refused: names for the
    // engine's 80-byte buffers, and the printer a greeting asks for.
    NameReply name;
    EXPECT_TRUE(decode(encode(NameReply{0, std::string(79, 'x'), ""}), &name));
    EXPECT_FALSE(decode(encode(NameReply{0, std::string(80, 'x'), ""}), &name));
    HelloRequest hello;
    EXPECT_TRUE(decode(encode(HelloRequest{std::string(255, 'p')}), &hello));
    EXPECT_FALSE(decode(encode(HelloRequest{std::string(256, 'p')}), &hello));
    const Bytes blob = kvtest::hex("00 00 00 02 AA BB");   // a blob at its limit, and one byte over it
    EXPECT_EQ(Reader(blob).blob(2), kvtest::hex("AA BB"));
    Reader over(blob);
    EXPECT_TRUE(over.blob(1).empty() && !over.ok());
}

// The reader of the frame codec and of the library's decoders: big-endian
// whatever the host; a read past the end reads nothing and the failure sticks.
TEST(WireReader, ReadsBigEndianAndFailsForGoodOnTruncatedInput) {
    const Bytes bytes = kvtest::hex("01 02 03 04 05 06 07");
    ByteReader whole(bytes.data(), bytes.size());
    EXPECT_EQ(whole.u8(), 0x01);
    EXPECT_EQ(whole.be16(), 0x0203);
    EXPECT_EQ(whole.be32(), 0x04050607u);
    EXPECT_TRUE(whole.ok() && whole.atEnd());
    for (size_t n = 0; n < bytes.size(); ++n) {
        ByteReader cut(bytes.data(), n);
        cut.u8();
        cut.be16();
        EXPECT_EQ(cut.be32(), 0u) << n;
        EXPECT_TRUE(cut.u8() == 0u && !cut.ok()) << n;
    }
}

// Appending record after record (a job list of 50,000 records) takes time in
// proportion to the size: growing the buffer by each record's size took
// seconds here.
TEST(WirePayloads, WriterGrowsInTimeProportionalToTheSize) {
    const uint8_t record[32] = {};
    auto start = std::chrono::steady_clock::now();
    Writer w;
    for (int i = 0; i < 50000; ++i) w.raw(record, sizeof record);
    EXPECT_EQ(w.take().size(), 1600000u);
    EXPECT_LT(std::chrono::steady_clock::now() - start, std::chrono::seconds(1));
}

TEST(WireSocket, ReadsFramesAcrossPiecesAndReportsCloseAndGarbage) {
    int fds[2];
    ASSERT_EQ(::socketpair(AF_UNIX, SOCK_STREAM, 0, fds), 0);
    Bytes bytes = encodeFrame(Frame{kQueryAlert, 3, {1, 2, 3, 4}});
    ASSERT_EQ(::write(fds[1], bytes.data(), 5), 5);
    ASSERT_EQ(::write(fds[1], bytes.data() + 5, bytes.size() - 5), static_cast<ssize_t>(bytes.size() - 5));
    Frame f;
    ASSERT_EQ(readFrame(fds[0], &f, 1000), Io::Ok);
    EXPECT_EQ(std::tuple(f.id, f.payload.size()), std::tuple(3u, 4u));

    EXPECT_EQ(readFrame(fds[0], &f, 20), Io::TimedOut);
    ASSERT_EQ(::write(fds[1], "GARBAGE-NOT-A-FRAME!", 20), 20);
    EXPECT_EQ(readFrame(fds[0], &f, 1000), Io::Malformed);
    ::close(fds[1]);
    EXPECT_EQ(readFrame(fds[0], &f, 1000), Io::Closed);
    ::close(fds[0]);
}

TEST(WireSocket, SplitsHostAndPort) {
    std::string host, port;
    EXPECT_TRUE(splitHostPort("127.0.0.1:9100", &host, &port));
    EXPECT_EQ(host + " " + port, "127.0.0.1 9100");
    EXPECT_TRUE(splitHostPort("[::1]:0", &host, &port) && host == "::1");
    for (const char* bad : {"127.0.0.1", ":80", "host:", "host:70000", "host:8x", "[::1]80"})
        EXPECT_FALSE(splitHostPort(bad, &host, &port)) << bad;
}

#include <gtest/gtest.h>

#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <chrono>
#include <cstdio>
#include <cstring>
#include <tuple>

#include "bytes.h"
#include "wire/frame.h"
#include "wire/frame_assembler.h"
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

namespace {

// What an assembler gives for bytes fed piece by piece: the frames taken, in
// order, as "type#id[payload]", then how the last next() ended.
std::string assemble(const std::vector<Bytes>& pieces, uint32_t limit) {
    static const char* const kEnds[] = {"frame", "more", "malformed", "oversized"};
    FrameAssembler frames(limit);
    std::string taken;
    FrameAssembler::Result last = FrameAssembler::Result::NeedMore;
    for (const Bytes& piece : pieces) {
        frames.feed(piece.data(), piece.size());
        for (Frame f; (last = frames.next(&f)) == FrameAssembler::Result::Frame;) {
            char head[16];
            std::snprintf(head, sizeof head, "%02X#%u[", f.type, f.id);
            taken += head + kvtest::toHex(f.payload) + "] ";
        }
    }
    return taken + "-> " + kEnds[static_cast<int>(last)];
}

std::vector<Bytes> byteByByte(const Bytes& bytes) {
    std::vector<Bytes> pieces;
    for (uint8_t b : bytes) pieces.push_back({b});
    return pieces;
}

Bytes join(Bytes a, const Bytes& b) {
    a.insert(a.end(), b.begin(), b.end());
    return a;
}

}  // namespace

TEST(WireFrameAssembler, TakesWholeFramesHoweverTheBytesAreCutAndRefusesWhatIsNotAFrame) {
    const Bytes bidi = kvtest::hex("4B 42 01 02 00 00 00 01 00 00 00 02 AA BB");
    const Bytes alert = kvtest::hex("4B 42 01 40 00 00 00 00 00 00 00 01 09");
    const Bytes empty = kvtest::hex("4B 42 01 85 00 00 00 03 00 00 00 00");
    const Bytes both = join(bidi, alert);
    const auto cut = [](const Bytes& b, size_t from, size_t to) { return Bytes(b.begin() + long(from), b.begin() + long(to)); };
    const struct {
        const char* name;
        std::vector<Bytes> pieces;
        std::string taken;
        uint32_t limit = kMaxPayload;
    } cases[] = {
        {"whole", {bidi}, "02#1[AA BB] -> more"},
        {"byte by byte", byteByByte(bidi), "02#1[AA BB] -> more"},
        {"two frames in one feed", {both}, "02#1[AA BB] 40#0[09] -> more"},
        {"the second cut inside its header", {cut(both, 0, 19), cut(both, 19, 27)}, "02#1[AA BB] 40#0[09] -> more"},
        {"the first cut inside its payload", {cut(both, 0, 13), cut(both, 13, 27)}, "02#1[AA BB] 40#0[09] -> more"},
        {"truncated header", {cut(bidi, 0, 11)}, "-> more"},
        {"truncated payload", {cut(bidi, 0, 13)}, "-> more"},
        {"zero length", {empty, bidi}, "85#3[] 02#1[AA BB] -> more"},
        {"zero length, byte by byte", byteByByte(empty), "85#3[] -> more"},
        {"payload at the limit", {bidi}, "02#1[AA BB] -> more", 2},
        {"payload over the limit, before its bytes", {cut(bidi, 0, 12)}, "-> oversized", 1},
        {"payload over the protocol's limit", {kvtest::hex("4B 42 01 02 00 00 00 01 00 10 00 01")}, "-> oversized"},
        {"wrong magic, caught at once", {{'G'}}, "-> malformed"},
        {"wrong magic after a frame", {join(bidi, {'K', 'A'})}, "02#1[AA BB] -> malformed"},
        {"wrong version", {kvtest::hex("4B 42 02 02 00 00 00 01 00 00 00 00")}, "-> malformed"},
        {"unknown type", {kvtest::hex("4B 42 01 09 00 00 00 01 00 00 00 00")}, "-> malformed"},
        {"unknown reply type", {kvtest::hex("4B 42 01 87 00 00 00 01 00 00 00 00")}, "-> malformed"},
        {"a failure sticks", {{'G'}, bidi}, "-> malformed"},
    };
    for (const auto& c : cases) EXPECT_EQ(assemble(c.pieces, c.limit), c.taken) << c.name;
}

// Memory follows what has arrived, never beyond the frame, and goes back
// once the frame is whole.
TEST(WireFrameAssembler, HoldsNoMoreThanTheUnfinishedFrame) {
    const Bytes big = encodeFrame(Frame{kSendBidi, 1, Bytes(100000, 0x5A)});
    FrameAssembler frames;
    Frame f;
    for (size_t at = 0; at < big.size(); at += 1000) {
        frames.feed(big.data() + at, std::min<size_t>(1000, big.size() - at));
        bool whole = frames.next(&f) == FrameAssembler::Result::Frame;
        ASSERT_EQ(whole, at + 1000 >= big.size()) << at;
        EXPECT_LE(frames.capacity(), whole ? 0 : std::min(big.size(), 2 * (at + 1000))) << at;
    }
    EXPECT_EQ(f.payload.size(), 100000u);
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

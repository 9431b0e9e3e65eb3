// The engine's framed TCP protocol (docs/protocol.md): frame header, message
// types and the payload of each message. The TCP transport of the engine and
// the simulator daemon kvprtsimd both speak it through these functions only.
//
// A frame is a 12-byte header followed by its payload:
//   0  2  magic "KB"
//   2  1  protocol version (kVersion)
//   3  1  message type (MsgType; a reply carries its request's type | kReplyBit)
//   4  4  request id, big-endian (0 in pushed alert notices)
//   8  4  payload length, big-endian, at most kMaxPayload
// All numbers inside payloads are big-endian.
#pragma once

#include <cstddef>
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

#include "byte_reader.h"
#include "kvprtobj/zorbce.h"

namespace kvwire {

using Bytes = std::vector<uint8_t>;

constexpr uint8_t kMagic[2] = {'K', 'B'};
constexpr uint8_t kVersion = 1;
constexpr size_t kHeaderSize = 12;
constexpr uint32_t kMaxPayload = 1u << 20;
constexpr size_t kMaxText = 0xFFFF;   // the longest text: its length has 16 bits

enum MsgType : uint8_t {
    kHello = 0x01,        // client: selects the printer of the connection
    kSendBidi = 0x02,     // client: one bidi request
    kQueryAlert = 0x03,   // client: the data of one alert
    kGetPrtInfo = 0x04,   // client: the printer information record
    kGetAddress = 0x05,   // client: the network address record
    kGetName = 0x06,      // client: name and address for a network type
    kAlert = 0x40,        // server: a new alert (pushed, request id 0)
    kError = 0x7F,        // server: the request could not be carried out as such
    kReplyBit = 0x80,
};

// True for the request types above and their replies, kAlert and kError.
bool isKnownType(uint8_t type);

struct Frame {
    uint8_t type = 0;
    uint32_t id = 0;
    Bytes payload;
};

Bytes encodeFrame(const Frame& frame);
// Writes the 12-byte header of a frame with a payload of `payloadLength` bytes.
void encodeHeader(uint8_t* header, uint8_t type, uint32_t id, uint32_t payloadLength);

enum class Decode { Ok, NeedMore, Malformed };

struct FrameHeader {
    uint8_t type = 0;
    uint32_t id = 0;
    uint32_t payloadLength = 0;
};
// Reads the 12 bytes of a header through `in`: false when they are short or
// not a header of this protocol (magic, version, type). The payload length is
// left for the caller to judge against its limit.
bool readHeader(ByteReader& in, FrameHeader* header);
// Checks a 12-byte header: magic, version, known type, payload length.
Decode decodeHeader(const uint8_t* header, uint8_t* type, uint32_t* id, uint32_t* payloadLength);
// Decodes one frame from the start of [data, data + length); on Ok, `consumed`
// is the frame's size. NeedMore when the bytes end inside the frame.
Decode decodeFrame(const uint8_t* data, size_t length, Frame* frame, size_t* consumed);

// Big-endian payload builder. It starts with room for a small message, so
// that building one costs one allocation, and grows geometrically, so that
// building a large one costs time in proportion to its size.
class Writer {
public:
    explicit Writer(size_t reserve = 64) { m_bytes.reserve(reserve); }
    Writer& u8(unsigned v) { m_bytes.push_back(static_cast<uint8_t>(v)); return *this; }
    Writer& be16(unsigned v) { u8(v >> 8); return u8(v); }
    Writer& be32(uint32_t v) { be16(v >> 16); return be16(v & 0xFFFF); }
    Writer& raw(const void* data, size_t n);
    // A 32-bit length and the bytes.
    Writer& blob(const Bytes& bytes) { be32(static_cast<uint32_t>(bytes.size())); return raw(bytes.data(), bytes.size()); }
    // A 16-bit length and the characters.
    Writer& text(std::string_view s) { be16(static_cast<unsigned>(s.size())); return raw(s.data(), s.size()); }
    Bytes take() { return std::move(m_bytes); }

private:
    Bytes m_bytes;
};

// Bounded big-endian payload reader: a read past the end fails and sticks.
class Reader : public ByteReader {
public:
    explicit Reader(const Bytes& bytes) : ByteReader(bytes.data(), bytes.size()) {}
    // True when every read succeeded and the whole payload was read.
    bool done() const { return ok() && atEnd(); }
    Bytes blob(uint32_t maxLength = kMaxPayload);
    std::string text(size_t maxLength = kMaxText);
};

// ---- message payloads ----

struct HelloRequest {
    std::string printer;   // index or name of the printer on the server; empty = the first
};
struct HelloReply {
    int32_t rc = 0;        // 0, or BCE_E_BAD_URI when the server has no such printer
    std::string printerName;
};
struct SendBidiRequest {
    int16_t appId = 0;
    uint32_t netType = 0;
    uint16_t code = 0;
    uint32_t capacity = 0;   // the caller's reply-buffer size; 0 = no reply wanted
    Bytes data;
};
struct QueryAlertRequest {
    int16_t appId = 0;
    uint16_t alertId = 0;
    int32_t flag = 0;
    uint32_t capacity = 0;
};
// Reply of kSendBidi and kQueryAlert: the result, the length the printer
// reported (it may exceed the bytes carried, as with a buffer too small), and
// the bytes. The bytes never exceed the request's capacity.
struct DataReply {
    int32_t rc = 0;
    uint32_t length = 0;
    Bytes data;
};
struct PrtInfoRequest {
    int32_t refresh = 0;
};
struct PrtInfoReply {
    int32_t rc = 0;
    PRTINFO info{};
};
struct AddressRequest {
    uint32_t netType = 0;
    int32_t level = 0;
};
struct AddressReply {
    int32_t rc = 0;
    NETADDRESS_LEVEL2 address{};
};
struct NameRequest {
    uint32_t netType = 0;
};
struct NameReply {
    int32_t rc = 0;
    std::string name, address;   // at most 79 characters each
};
struct AlertNotice {
    uint16_t alertId = 0;
    uint32_t family = 0;
};
struct ErrorReply {
    int32_t rc = 0;
    std::string text;
};

Bytes encode(const HelloRequest& m);
Bytes encode(const HelloReply& m);
Bytes encode(const SendBidiRequest& m);
Bytes encode(const QueryAlertRequest& m);
Bytes encode(const DataReply& m);
Bytes encode(const PrtInfoRequest& m);
Bytes encode(const PrtInfoReply& m);
Bytes encode(const AddressRequest& m);
Bytes encode(const AddressReply& m);
Bytes encode(const NameRequest& m);
Bytes encode(const NameReply& m);
Bytes encode(const AlertNotice& m);
Bytes encode(const ErrorReply& m);

// Each decode is false when the payload is short, too long or inconsistent.
bool decode(const Bytes& payload, HelloRequest* m);
bool decode(const Bytes& payload, HelloReply* m);
bool decode(const Bytes& payload, SendBidiRequest* m);
bool decode(const Bytes& payload, QueryAlertRequest* m);
bool decode(const Bytes& payload, DataReply* m);
bool decode(const Bytes& payload, PrtInfoRequest* m);
bool decode(const Bytes& payload, PrtInfoReply* m);
bool decode(const Bytes& payload, AddressRequest* m);
bool decode(const Bytes& payload, AddressReply* m);
bool decode(const Bytes& payload, NameRequest* m);
bool decode(const Bytes& payload, NameReply* m);
bool decode(const Bytes& payload, AlertNotice* m);
bool decode(const Bytes& payload, ErrorReply* m);

}  // namespace kvwire

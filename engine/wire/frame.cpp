#include "frame.h"

#include <cstring>

namespace kvwire {

bool isKnownType(uint8_t type) {
    if (type == kAlert || type == kError) return true;
    uint8_t request = type & static_cast<uint8_t>(~kReplyBit);
    return request >= kHello && request <= kGetName;
}

void encodeHeader(uint8_t* h, uint8_t type, uint32_t id, uint32_t payloadLength) {
    const uint8_t header[kHeaderSize] = {kMagic[0],
                                         kMagic[1],
                                         kVersion,
                                         type,
                                         static_cast<uint8_t>(id >> 24),
                                         static_cast<uint8_t>(id >> 16),
                                         static_cast<uint8_t>(id >> 8),
                                         static_cast<uint8_t>(id),
                                         static_cast<uint8_t>(payloadLength >> 24),
                                         static_cast<uint8_t>(payloadLength >> 16),
                                         static_cast<uint8_t>(payloadLength >> 8),
                                         static_cast<uint8_t>(payloadLength)};
    std::memcpy(h, header, kHeaderSize);
}

Bytes encodeFrame(const Frame& frame) {
    Bytes bytes(kHeaderSize + frame.payload.size());
    encodeHeader(bytes.data(), frame.type, frame.id, static_cast<uint32_t>(frame.payload.size()));
    if (!frame.payload.empty()) std::memcpy(bytes.data() + kHeaderSize, frame.payload.data(), frame.payload.size());
    return bytes;
}

bool readHeader(ByteReader& in, FrameHeader* header) {
    uint8_t magic0 = in.u8(), magic1 = in.u8(), version = in.u8();
    header->type = in.u8();
    header->id = in.be32();
    header->payloadLength = in.be32();
    return in.ok() && magic0 == kMagic[0] && magic1 == kMagic[1] && version == kVersion && isKnownType(header->type);
}

Decode decodeHeader(const uint8_t* h, uint8_t* type, uint32_t* id, uint32_t* payloadLength) {
    ByteReader in(h, kHeaderSize);
    FrameHeader header;
    if (!readHeader(in, &header) || header.payloadLength > kMaxPayload) return Decode::Malformed;
    *type = header.type;
    *id = header.id;
    *payloadLength = header.payloadLength;
    return Decode::Ok;
}

Decode decodeFrame(const uint8_t* data, size_t length, Frame* frame, size_t* consumed) {
    // A header is judged as soon as its bytes are there, and a wrong magic as
    // soon as the first bytes are, so garbage is caught before waiting for more.
    for (size_t i = 0; i < 2 && i < length; ++i)
        if (data[i] != kMagic[i]) return Decode::Malformed;
    if (length < kHeaderSize) return Decode::NeedMore;
    uint8_t type;
    uint32_t id, payloadLength;
    if (decodeHeader(data, &type, &id, &payloadLength) != Decode::Ok) return Decode::Malformed;
    if (length - kHeaderSize < payloadLength) return Decode::NeedMore;
    frame->type = type;
    frame->id = id;
    frame->payload.assign(data + kHeaderSize, data + kHeaderSize + payloadLength);
    *consumed = kHeaderSize + payloadLength;
    return Decode::Ok;
}

Writer& Writer::raw(const void* data, size_t n) {
    auto* p = static_cast<const uint8_t*>(data);
    if (n) m_bytes.insert(m_bytes.end(), p, p + n);   // the vector's own growth: geometric
    return *this;
}

Bytes Reader::blob(uint32_t maxLength) {
    uint32_t n = be32();
    if (n > maxLength) {
        fail();
        return {};
    }
    if (!take(n)) return {};
    return Bytes(m_data + m_pos - n, m_data + m_pos);
}

std::string Reader::text(size_t maxLength) {
    uint16_t n = be16();
    if (n > maxLength) {
        fail();
        return {};
    }
    if (!take(n)) return {};
    return std::string(reinterpret_cast<const char*>(m_data + m_pos - n), n);
}

// ---- printer information and network address, numbers big-endian ----

namespace {

void put(Writer& w, const PRTINFO& i) {
    w.raw(i.abAdapterAddress, sizeof i.abAdapterAddress).raw(i.szPortName, sizeof i.szPortName);
    w.be16(i.usFlags).be16(i.usReserved90).be32(i.ulAttachment).be16(i.usNetTypeCode).be16(i.usNetSubCode);
    w.raw(i.szModelName, sizeof i.szModelName).raw(i.szSerialNumber, sizeof i.szSerialNumber);
    w.raw(i.abReserved, sizeof i.abReserved);
}

void get(Reader& r, PRTINFO& i) {
    r.raw(i.abAdapterAddress, sizeof i.abAdapterAddress);
    r.raw(i.szPortName, sizeof i.szPortName);
    i.usFlags = r.be16();
    i.usReserved90 = r.be16();
    i.ulAttachment = r.be32();
    i.usNetTypeCode = r.be16();
    i.usNetSubCode = r.be16();
    r.raw(i.szModelName, sizeof i.szModelName);
    r.raw(i.szSerialNumber, sizeof i.szSerialNumber);
    r.raw(i.abReserved, sizeof i.abReserved);
    // Texts stay terminated whatever the peer sent.
    i.szPortName[sizeof i.szPortName - 1] = '\0';
    i.szModelName[sizeof i.szModelName - 1] = '\0';
    i.szSerialNumber[sizeof i.szSerialNumber - 1] = '\0';
}

void put(Writer& w, const NETADDRESS_LEVEL2& a) {
    w.be32(a.ulNetType).be32(a.ulPort).raw(a.szHostName, sizeof a.szHostName).raw(a.szAddress, sizeof a.szAddress);
    w.raw(a.abHardware, sizeof a.abHardware).raw(a.abReserved, sizeof a.abReserved);
}

void get(Reader& r, NETADDRESS_LEVEL2& a) {
    a.ulNetType = r.be32();
    a.ulPort = r.be32();
    r.raw(a.szHostName, sizeof a.szHostName);
    r.raw(a.szAddress, sizeof a.szAddress);
    r.raw(a.abHardware, sizeof a.abHardware);
    r.raw(a.abReserved, sizeof a.abReserved);
    a.szHostName[sizeof a.szHostName - 1] = '\0';
    a.szAddress[sizeof a.szAddress - 1] = '\0';
}

int32_t signedOf(uint32_t v) { return static_cast<int32_t>(v); }

constexpr size_t kMaxNameText = 79;   // the engine's name buffers hold 80 bytes

}  // namespace

Bytes encode(const HelloRequest& m) { return Writer().text(m.printer).take(); }
Bytes encode(const HelloReply& m) { return Writer().be32(static_cast<uint32_t>(m.rc)).text(m.printerName).take(); }

Bytes encode(const SendBidiRequest& m) {
    Writer w(64 + m.data.size());
    w.be16(static_cast<uint16_t>(m.appId)).be32(m.netType).be16(m.code).be32(m.capacity).blob(m.data);
    return w.take();
}

Bytes encode(const QueryAlertRequest& m) {
    Writer w;
    w.be16(static_cast<uint16_t>(m.appId)).be16(m.alertId).be32(static_cast<uint32_t>(m.flag)).be32(m.capacity);
    return w.take();
}

Bytes encode(const DataReply& m) {
    return Writer(64 + m.data.size()).be32(static_cast<uint32_t>(m.rc)).be32(m.length).blob(m.data).take();
}

Bytes encode(const PrtInfoRequest& m) { return Writer().be32(static_cast<uint32_t>(m.refresh)).take(); }

Bytes encode(const PrtInfoReply& m) {
    Writer w(4 + sizeof(PRTINFO));
    w.be32(static_cast<uint32_t>(m.rc));
    put(w, m.info);
    return w.take();
}

Bytes encode(const AddressRequest& m) {
    return Writer().be32(m.netType).be32(static_cast<uint32_t>(m.level)).take();
}

Bytes encode(const AddressReply& m) {
    Writer w(4 + sizeof(NETADDRESS_LEVEL2));
    w.be32(static_cast<uint32_t>(m.rc));
    put(w, m.address);
    return w.take();
}

Bytes encode(const NameRequest& m) { return Writer().be32(m.netType).take(); }

Bytes encode(const NameReply& m) {
    return Writer().be32(static_cast<uint32_t>(m.rc)).text(m.name).text(m.address).take();
}

Bytes encode(const AlertNotice& m) { return Writer().be16(m.alertId).be32(m.family).take(); }
Bytes encode(const ErrorReply& m) { return Writer().be32(static_cast<uint32_t>(m.rc)).text(m.text).take(); }

bool decode(const Bytes& p, HelloRequest* m) {
    Reader r(p);
    m->printer = r.text(255);
    return r.done();
}

bool decode(const Bytes& p, HelloReply* m) {
    Reader r(p);
    m->rc = signedOf(r.be32());
    m->printerName = r.text(255);
    return r.done();
}

bool decode(const Bytes& p, SendBidiRequest* m) {
    Reader r(p);
    m->appId = static_cast<int16_t>(r.be16());
    m->netType = r.be32();
    m->code = r.be16();
    m->capacity = r.be32();
    m->data = r.blob();
    return r.done();
}

bool decode(const Bytes& p, QueryAlertRequest* m) {
    Reader r(p);
    m->appId = static_cast<int16_t>(r.be16());
    m->alertId = r.be16();
    m->flag = signedOf(r.be32());
    m->capacity = r.be32();
    return r.done();
}

bool decode(const Bytes& p, DataReply* m) {
    Reader r(p);
    m->rc = signedOf(r.be32());
    m->length = r.be32();
    m->data = r.blob();
    return r.done();
}

bool decode(const Bytes& p, PrtInfoRequest* m) {
    Reader r(p);
    m->refresh = signedOf(r.be32());
    return r.done();
}

bool decode(const Bytes& p, PrtInfoReply* m) {
    Reader r(p);
    m->rc = signedOf(r.be32());
    get(r, m->info);
    return r.done();
}

bool decode(const Bytes& p, AddressRequest* m) {
    Reader r(p);
    m->netType = r.be32();
    m->level = signedOf(r.be32());
    return r.done();
}

bool decode(const Bytes& p, AddressReply* m) {
    Reader r(p);
    m->rc = signedOf(r.be32());
    get(r, m->address);
    return r.done();
}

bool decode(const Bytes& p, NameRequest* m) {
    Reader r(p);
    m->netType = r.be32();
    return r.done();
}

bool decode(const Bytes& p, NameReply* m) {
    Reader r(p);
    m->rc = signedOf(r.be32());
    m->name = r.text(kMaxNameText);
    m->address = r.text(kMaxNameText);
    return r.done();
}

bool decode(const Bytes& p, AlertNotice* m) {
    Reader r(p);
    m->alertId = r.be16();
    m->family = r.be32();
    return r.done();
}

bool decode(const Bytes& p, ErrorReply* m) {
    Reader r(p);
    m->rc = signedOf(r.be32());
    m->text = r.text();
    return r.done();
}

}  // namespace kvwire

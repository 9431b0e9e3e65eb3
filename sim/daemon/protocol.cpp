#include "protocol.h"

#include <algorithm>
#include <cstdint>

namespace kvsimd {
namespace {

using kvwire::Frame;

Frame errorFrame(uint32_t id, long rc, const std::string& text) {
    return Frame{kvwire::kError, id, kvwire::encode(kvwire::ErrorReply{static_cast<int32_t>(rc), text})};
}

// Runs a printer call that fills a buffer of the client's capacity (bounded by
// what one frame can carry) and packs its result, length and bytes.
template <class Call>
kvwire::DataReply carry(uint32_t capacity, Call call) {
    capacity = std::min<uint32_t>(capacity, kvwire::kMaxPayload - 64);
    kvwire::Bytes buffer(capacity ? capacity : 4);
    unsigned long length = capacity;
    kvwire::DataReply reply;
    reply.rc = static_cast<int32_t>(call(buffer.data(), &length));
    reply.length = static_cast<uint32_t>(length);
    if (reply.rc == 0) {
        buffer.resize(std::min<unsigned long>(length, capacity));
        reply.data = std::move(buffer);
    }
    return reply;
}

}  // namespace

Greeting greet(const std::vector<ServedPrinter>& printers, const Frame& hello) {
    kvwire::HelloRequest request;
    if (hello.type != kvwire::kHello || !kvwire::decode(hello.payload, &request)) {
        const char* why = "the first frame of a connection must be a greeting";
        return {errorFrame(hello.id, BCE_E_INVALID, why), std::nullopt};
    }
    size_t index = printers.size();
    if (request.printer.empty()) {
        index = 0;
    } else {
        for (size_t i = 0; i < printers.size() && index == printers.size(); ++i)
            if (printers[i].name == request.printer) index = i;
        bool digits = request.printer.find_first_not_of("0123456789") == std::string::npos && request.printer.size() < 9;
        if (index == printers.size() && digits) index = std::stoul(request.printer);
    }
    kvwire::HelloReply reply;
    std::optional<size_t> selected;
    if (index >= printers.size()) {
        reply.rc = BCE_E_BAD_URI;
    } else {
        reply.printerName = printers[index].name;
        selected = index;
    }
    return {Frame{kvwire::kHello | kvwire::kReplyBit, hello.id, kvwire::encode(reply)}, selected};
}

Frame answer(kvsim::SimPrinter& printer, const Frame& request) {
    uint8_t replyType = request.type | kvwire::kReplyBit;
    switch (request.type) {
    case kvwire::kSendBidi: {
        kvwire::SendBidiRequest r;
        if (!kvwire::decode(request.payload, &r)) break;
        kvwire::DataReply reply = carry(r.capacity, [&](void* buffer, unsigned long* length) {
            return printer.sendBidi(r.appId, r.netType, r.code, buffer, length, r.data.data(), r.data.size());
        });
        return Frame{replyType, request.id, kvwire::encode(reply)};
    }
    case kvwire::kQueryAlert: {
        kvwire::QueryAlertRequest r;
        if (!kvwire::decode(request.payload, &r)) break;
        kvwire::DataReply reply = carry(r.capacity, [&](void* buffer, unsigned long* length) {
            return printer.queryAlerts(r.appId, r.alertId, r.flag, buffer, length);
        });
        return Frame{replyType, request.id, kvwire::encode(reply)};
    }
    case kvwire::kGetPrtInfo: {
        kvwire::PrtInfoRequest r;
        if (!kvwire::decode(request.payload, &r)) break;
        kvwire::PrtInfoReply reply;
        reply.rc = static_cast<int32_t>(printer.getPrtInfo(&reply.info, r.refresh));
        return Frame{replyType, request.id, kvwire::encode(reply)};
    }
    case kvwire::kGetAddress: {
        kvwire::AddressRequest r;
        if (!kvwire::decode(request.payload, &r)) break;
        kvwire::AddressReply reply;
        reply.rc = static_cast<int32_t>(printer.getPrinterAddrEx(r.netType, &reply.address, r.level));
        return Frame{replyType, request.id, kvwire::encode(reply)};
    }
    case kvwire::kGetName: {
        kvwire::NameRequest r;
        if (!kvwire::decode(request.payload, &r)) break;
        kvwire::NameReply reply;
        char name[80] = "", address[80] = "";
        reply.rc = static_cast<int32_t>(printer.getPrinterName(r.netType, name, address));
        reply.name = name;
        reply.address = address;
        return Frame{replyType, request.id, kvwire::encode(reply)};
    }
    default:
        return errorFrame(request.id, BCE_E_NOT_SUPPORTED, "unknown message type");
    }
    return errorFrame(request.id, BCE_E_INVALID, "malformed request payload");
}

}  // namespace kvsimd

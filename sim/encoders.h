// The replies to the printer's read requests, as pure functions of its state.
// The simulated printer answers its reads through them, and so does the
// net:// backend, which fills a Profile from a real printer's SNMP and IPP
// answers: both give the library the same bytes for the same state.
// Requests that change the printer are the simulator's own (machine.h).
#pragma once

#include <cstddef>
#include <cstdint>
#include <initializer_list>
#include <optional>
#include <string>

#include "profile.h"
#include "wire/byte_reader.h"
#include "wire/frame.h"

namespace kvsim {

struct Request {
    uint16_t code = 0;
    const uint8_t* data = nullptr;
    size_t length = 0;
};

// A request's answer: a result code and, on success, the reply without the
// leading byte that the transport strips.
struct Reply {
    long rc = 0;
    Bytes body;
};

// The reply to a read request from the state `state`; nullopt when `code`
// is not one of the reads.
std::optional<Reply> encodeRead(const Profile& state, const Request& request);
// True for the request codes encodeRead answers.
bool isRead(uint16_t code);

// Hands a reply to the engine's caller: byte 0 the low byte of the request
// code, then the body. -18 with the length needed when it does not fit the
// capacity in *replyLength; a capacity of 0 wants no reply (0, nothing
// copied). A reply whose rc is not 0 is that rc.
long deliverReply(uint16_t code, const Reply& answer, void* reply, unsigned long* replyLength);

// What the operator panel shows: the locked text while the panel lock
// variable is set and the profile has one, else the panel's lines, each
// padded or cut to the panel's width.
std::string panelDisplay(const Profile& state);
// The value of object-model variable `id`, or null.
const Bytes* findVariable(const Profile& state, uint16_t id);

// Helpers of the request handlers.
using kvwire::Writer;
inline Reply invalidRequest() { return {BCE_E_INVALID, {}}; }
inline Reply replyWith(Writer& w) { return {0, w.take()}; }
inline Reply replyWith(Bytes body) { return {0, std::move(body)}; }
// An empty reply: the printer answers with the leading byte only.
inline Reply done() { return {0, {}}; }
inline bool dataIs(const Request& r, std::initializer_list<uint8_t> bytes) {
    if (r.length != bytes.size()) return false;
    size_t i = 0;
    for (uint8_t b : bytes)
        if (r.data[i++] != b) return false;
    return true;
}
// The big-endian number at `offset` of the request, read through the wire's
// bounded reader: 0 past the end.
inline uint16_t be16At(const Request& r, size_t offset) {
    kvwire::ByteReader in(r.data, r.length);
    in.seek(offset);
    return in.be16();
}
inline Writer& counted(Writer& w, const std::string& text) {
    return w.u8(static_cast<unsigned>(text.size())).raw(text.data(), text.size());
}

// The encoders, one per read request (encoders.cpp has the table of codes).
namespace encode {
Reply deviceStatus(const Profile&, const Request&);
Reply inputStatus(const Profile&, const Request&);
Reply outputStatus(const Profile&, const Request&);
Reply alertRun(const Profile&, const Request&);
Reply suppliesStatus(const Profile&, const Request&);
Reply panelText(const Profile&, const Request&);
Reply pageCounts(const Profile&, const Request&);
Reply loopBack(const Profile&, const Request&);
Reply readVariable(const Profile&, const Request&);
Reply readMiscVariable(const Profile&, const Request&);
Reply readVariables(const Profile&, const Request&);
Reply availablePorts(const Profile&, const Request&);
Reply deviceChars(const Profile&, const Request&);
Reply inputBins(const Profile&, const Request&);
Reply outputBins(const Profile&, const Request&);
Reply storageOptions(const Profile&, const Request&);
Reply interpreters(const Profile&, const Request&);
Reply fontList(const Profile&, const Request&);
Reply symbolSets(const Profile&, const Request&);
Reply currentFont(const Profile&, const Request&);
Reply queryJobs(const Profile&, const Request&);
Reply customNames(const Profile&, const Request&);
Reply tonerInfo(const Profile&, const Request&);
}  // namespace encode

}  // namespace kvsim

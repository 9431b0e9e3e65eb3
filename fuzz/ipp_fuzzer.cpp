// The IPP reader of the net:// backend on arbitrary bytes: an HTTP response
// through the response reader (whole, then in small pieces), its body
// through the codec, the attributes through the printer and job fills into a
// fresh snapshot, and the snapshot through every read the simulator's
// encoders answer. Anything the fill writes must fit the reply fields that
// carry it (counted texts and counts of one byte): a misfit is a finding.
#include <cstdint>
#include <cstdlib>
#include <string>

#include "encoders.h"
#include "ipp/codec.h"
#include "ipp/fill.h"
#include "ipp/http.h"

namespace {

using kvnet::ipp::http::ResponseParser;

constexpr size_t kOneByte = 255;
constexpr size_t kPiece = 7;   // bytes per feed of the piecewise read

void require(bool fits) {
    if (!fits) std::abort();
}

// The body when the bytes are a whole response; both reads must agree.
bool readResponse(const std::string& bytes, std::string* body) {
    ResponseParser whole, pieces;
    size_t used = 0;
    auto state = whole.feed(bytes, &used);
    if (state == ResponseParser::State::More) state = whole.closed();
    auto pieceState = ResponseParser::State::More;
    for (size_t at = 0; at < bytes.size() && pieceState == ResponseParser::State::More; at += used)
        pieceState = pieces.feed(std::string_view(bytes).substr(at, kPiece), &used);
    if (pieceState == ResponseParser::State::More) pieceState = pieces.closed();
    require(state == pieceState);
    if (state != ResponseParser::State::Done) return false;
    require(whole.response().body == pieces.response().body);
    *body = std::move(whole.response().body);
    return true;
}

// The request id the body claims, so that the decode goes past that check.
int requestIdOf(const std::string& body) {
    if (body.size() < 8) return 0;
    auto byte = [&](size_t i) { return static_cast<uint32_t>(static_cast<uint8_t>(body[i])); };
    return static_cast<int>(byte(4) << 24 | byte(5) << 16 | byte(6) << 8 | byte(7));
}

void checkFits(const kvsim::Profile& p) {
    require(p.inputStatus.size() <= kOneByte && p.outputStatus.size() <= kOneByte);
    require(p.inputBins.size() <= kOneByte && p.outputBins.size() <= kOneByte);
    require(p.suppliesStatus.size() <= kOneByte && p.toner.supplies.size() <= kOneByte);
    for (const auto& [run, records] : p.alertRuns) require(records.size() <= kOneByte);
    const kvsim::DeviceChars& d = p.deviceChars;
    require(d.text1.size() <= kOneByte && d.codeLevel.size() <= kOneByte && d.text3.size() <= kOneByte);
    for (const kvsim::InputBin& b : p.inputBins) require(b.name.size() <= kOneByte && b.text2.size() <= kOneByte);
    for (const kvsim::OutputBin& b : p.outputBins) require(b.name.size() <= kOneByte);
    for (const kvsim::Job& j : p.jobs) require(j.number != 0 && j.info1.size() <= kOneByte && j.info2.size() <= kOneByte);
}

// Each read with the request data the library sends.
void encodeEveryRead(const kvnet::Snapshot& snapshot) {
    static const uint8_t kZero[] = {0x00}, kAllJobs[] = {0xFF, 0, 0, 0, 0x40}, kCodeLevels[] = {0x00, 0xA6};
    for (uint16_t code : snapshot.answered) {
        kvsim::Request request{code, nullptr, 0};
        if (code == kvbidi::kInputStatus || code == kvbidi::kOutputStatus || code == kvbidi::kSuppliesStatus ||
            code == kvbidi::kTonerInfo)
            request = {code, kZero, sizeof kZero};
        if (code == kvbidi::kQueryJobs) request = {code, kAllJobs, sizeof kAllJobs};
        if (code == kvbidi::kReadMiscVar) request = {code, kCodeLevels, sizeof kCodeLevels};
        auto reply = kvsim::encodeRead(snapshot.profile, request);
        require(reply.has_value() && reply->rc == 0);
    }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string body;
    if (!readResponse(std::string(reinterpret_cast<const char*>(data), size), &body)) return 0;
    kvnet::ipp::Response response;
    std::string error;
    if (kvnet::ipp::codec::decode(body, false, requestIdOf(body), &response, &error) != 0) return 0;
    kvnet::Snapshot snapshot;
    kvnet::ipp::fillPrinter(response.printer, &snapshot);
    kvnet::ipp::JobNumbers numbers;
    kvnet::ipp::fillJobs(response.jobs, numbers, &snapshot);
    checkFits(snapshot.profile);
    encodeEveryRead(snapshot);
    return 0;
}

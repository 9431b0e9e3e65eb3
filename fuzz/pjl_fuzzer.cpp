// The PJL reply reader and parsers of the net:// backend on arbitrary bytes:
// the bytes are read whole and in small pieces (both reads must cut the same
// replies), and every reply goes through every parser and the command
// splitter. Findings are crashes, sanitizer reports and the checks below.
#include <cstdint>
#include <cstdlib>
#include <string>
#include <vector>

#include "pjl.h"

namespace pjl = kvnet::pjl;

namespace {

constexpr size_t kPiece = 5;   // bytes per feed of the piecewise read

void require(bool holds) {
    if (!holds) std::abort();
}

std::vector<std::string> replies(std::string_view bytes, size_t piece) {
    pjl::ReplyReader reader;
    std::vector<std::string> out;
    std::string reply;
    for (size_t at = 0; at < bytes.size(); at += piece) {
        reader.feed(bytes.substr(at, piece));
        while (reader.next(&reply) == pjl::ReplyReader::Status::Reply) {
            require(reply.size() <= pjl::kMaxReply);
            out.push_back(reply);
        }
    }
    return out;
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
    std::string_view bytes(reinterpret_cast<const char*>(data), size);
    std::vector<std::string> whole = replies(bytes, bytes.size() + 1);
    // (Fed whole, bytes beyond twice the bound are refused before any reply is cut.)
    if (bytes.size() <= pjl::kMaxReply) require(whole == replies(bytes, kPiece));
    for (const std::string& r : whole) {
        (void)pjl::parseId(r);
        (void)pjl::parseListing(r, "CONFIG");
        if (auto listed = pjl::parseListing(r, "VARIABLES"))
            for (const auto& l : *listed) require(l.items.size() <= pjl::kMaxItems);
        (void)pjl::parseInquiry(r);
        (void)pjl::parsePageCount(r);
        (void)pjl::parseFilesys(r);
        (void)pjl::parseFsQuery(r);
        (void)pjl::parseDirList(r);
        if (auto upload = pjl::parseUpload(r)) require(upload->data.size() <= pjl::kMaxReply);
        (void)pjl::parseEcho(r);
        (void)pjl::parseDeviceStatus(r);
        (void)pjl::parseCommand(r);
    }
    return 0;
}

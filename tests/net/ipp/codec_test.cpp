// The IPP codec's bounds and refusals (the printer's own responses are
// decoded in peer_test.cpp): responses built with libcups.
#include <cups/ipp.h>
#include <gtest/gtest.h>

#include <memory>

#include "ipp/codec.h"
#include "kvprtobj/zorbce.h"

using namespace kvnet::ipp;

namespace {

constexpr int kRequestId = 7;

ssize_t append(void* context, ipp_uchar_t* buffer, size_t bytes) {
    static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(buffer), bytes);
    return static_cast<ssize_t>(bytes);
}

// A response of two job groups whose attribute holds more values than are
// kept, and a collection nested deeper than is flattened.
std::string sampleResponse() {
    ipp_t* ipp = ippNew();
    ippSetVersion(ipp, 1, 1);
    ippSetRequestId(ipp, kRequestId);
    ippAddString(ipp, IPP_TAG_OPERATION, IPP_TAG_TEXT, "status-message", nullptr, "fine");
    std::vector<int> many(codec::kMaxValues + 10, 3);
    ippAddIntegers(ipp, IPP_TAG_PRINTER, IPP_TAG_INTEGER, "marker-levels", static_cast<int>(many.size()), many.data());
    ipp_t* nested = ippNew();
    ippAddInteger(nested, IPP_TAG_ZERO, IPP_TAG_INTEGER, "depth", codec::kMaxCollectionDepth + 1);
    for (int depth = codec::kMaxCollectionDepth; depth > 0; --depth) {
        ipp_t* outer = ippNew();
        ippAddInteger(outer, IPP_TAG_ZERO, IPP_TAG_INTEGER, "depth", depth);
        ippAddCollection(outer, IPP_TAG_ZERO, "c", nested);
        ippDelete(nested);
        nested = outer;
    }
    ippAddCollection(ipp, IPP_TAG_PRINTER, "media-col-ready", nested);
    ippDelete(nested);
    for (int id : {11, 12}) {
        ippAddSeparator(ipp);
        ippAddInteger(ipp, IPP_TAG_JOB, IPP_TAG_INTEGER, "job-id", id);
    }
    std::string bytes;
    ippWriteIO(&bytes, append, 1, nullptr, ipp);
    ippDelete(ipp);
    return bytes;
}

TEST(IppCodec, KeepsGroupsApartAndBoundsValuesAndNesting) {
    Response r;
    std::string error;
    ASSERT_EQ(codec::decode(sampleResponse(), false, kRequestId, &r, &error), 0) << error;
    EXPECT_EQ(r.message, "fine");
    EXPECT_EQ(r.printer.at("marker-levels").size(), codec::kMaxValues);
    EXPECT_EQ(textOf(r.printer, "media-col-ready"), "depth=1;c.depth=2;c.c.depth=3;c.c.c.depth=4;");
    ASSERT_EQ(r.jobs.size(), 2u);
    EXPECT_EQ(numberOf(r.jobs[1], "job-id", 0), 12);
}

// Bytes that are not a whole message are a bad reply, or a reset when only
// the close ended them; a whole message for another request is a bad reply.
TEST(IppCodec, RefusesWhatIsNotAWholeResponseToTheRequest) {
    const std::string whole = sampleResponse();
    const std::string cut = "the printer closed the connection before the whole IPP message";
    const struct {
        std::string bytes;
        bool endedByClose;   // no length told where the body ends
        int requestId;
        long rc;
        std::string error;
    } kCases[] = {
        {"", false, kRequestId, BCE_E_BAD_REPLY, "the response is not an IPP message"},
        {"<html>not found</html>", false, kRequestId, BCE_E_BAD_REPLY, "the response is not an IPP message"},
        {whole.substr(0, whole.size() - 5), false, kRequestId, BCE_E_BAD_REPLY, "the response is not an IPP message"},
        {whole, false, kRequestId + 1, BCE_E_BAD_REPLY, "the response answers request 7, not 8"},
        {whole.substr(0, whole.size() - 5), true, kRequestId, BCE_E_CONNECTION_RESET, cut},
        {"", true, kRequestId, BCE_E_CONNECTION_RESET, cut},
        {whole, true, kRequestId + 1, BCE_E_BAD_REPLY, "the response answers request 7, not 8"},
    };
    for (const auto& c : kCases) {
        Response r;
        std::string error;
        EXPECT_EQ(codec::decode(c.bytes, c.endedByClose, c.requestId, &r, &error), c.rc) << c.error;
        EXPECT_EQ(error, c.error);
    }
}

}  // namespace

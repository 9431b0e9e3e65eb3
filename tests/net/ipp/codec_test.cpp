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
    ASSERT_EQ(codec::decode(sampleResponse(), kRequestId, &r, &error), 0) << error;
    EXPECT_EQ(r.message, "fine");
    EXPECT_EQ(r.printer.at("marker-levels").size(), codec::kMaxValues);
    EXPECT_EQ(textOf(r.printer, "media-col-ready"), "depth=1;c.depth=2;c.c.depth=3;c.c.c.depth=4;");
    ASSERT_EQ(r.jobs.size(), 2u);
    EXPECT_EQ(numberOf(r.jobs[1], "job-id", 0), 12);
}

TEST(IppCodec, RefusesWhatIsNotAWholeResponseToTheRequest) {
    const std::string whole = sampleResponse();
    const struct {
        std::string bytes;
        int requestId;
        const char* error;
    } kCases[] = {
        {"", kRequestId, "the response is not an IPP message"},
        {"<html>not found</html>", kRequestId, "the response is not an IPP message"},
        {whole.substr(0, whole.size() - 5), kRequestId, "the response is not an IPP message"},
        {whole, kRequestId + 1, "the response answers request 7, not 8"},
    };
    for (const auto& c : kCases) {
        Response r;
        std::string error;
        EXPECT_EQ(codec::decode(c.bytes, c.requestId, &r, &error), BCE_E_BAD_REPLY) << c.error;
        EXPECT_EQ(error, c.error);
    }
}

}  // namespace

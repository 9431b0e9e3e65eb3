#include "codec.h"

#include <cups/ipp.h>

#include <algorithm>
#include <cstdio>
#include <cstring>
#include <memory>

#include "kvprtobj/zorbce.h"

namespace kvnet::ipp::codec {
namespace {

struct IppDelete {
    void operator()(ipp_t* ipp) const { ippDelete(ipp); }
};
using Ipp = std::unique_ptr<ipp_t, IppDelete>;

// Every request is IPP/1.1, which every IPP printer accepts; the attributes
// the backend reads do not depend on the version.
constexpr int kVersionMajor = 1, kVersionMinor = 1;

// Values kept over a whole response, whatever the groups.
constexpr size_t kMaxTotalValues = 65536;

Ipp newRequest(int operation, const Target& target) {
    Ipp ipp(ippNewRequest(static_cast<ipp_op_t>(operation)));   // adds attributes-charset and -natural-language
    if (!ipp) return ipp;
    ippSetVersion(ipp.get(), kVersionMajor, kVersionMinor);
    ippSetRequestId(ipp.get(), target.requestId);
    ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_URI, "printer-uri", nullptr, target.printerUri.c_str());
    ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_NAME, "requesting-user-name", nullptr, target.user.c_str());
    return ipp;
}

void addKeywords(ipp_t* ipp, const char* name, const std::vector<std::string>& keywords) {
    if (keywords.empty()) return;
    std::vector<const char*> values;
    for (const std::string& k : keywords) values.push_back(k.c_str());
    ippAddStrings(ipp, IPP_TAG_OPERATION, IPP_TAG_KEYWORD, name, static_cast<int>(values.size()), nullptr,
                  values.data());
}

ssize_t appendTo(void* context, ipp_uchar_t* buffer, size_t bytes) {
    static_cast<std::string*>(context)->append(reinterpret_cast<const char*>(buffer), bytes);
    return static_cast<ssize_t>(bytes);
}

// The message's bytes; empty when it could not be built.
std::string encoded(const Ipp& ipp) {
    std::string out;
    if (!ipp || ippWriteIO(&out, appendTo, 1, nullptr, ipp.get()) != IPP_STATE_DATA) return {};
    return out;
}

// ---- decoding ----

struct MemoryReader {
    const std::string& bytes;
    size_t offset = 0;
};

ssize_t readFrom(void* context, ipp_uchar_t* buffer, size_t bytes) {
    auto* reader = static_cast<MemoryReader*>(context);
    size_t n = std::min(bytes, reader->bytes.size() - reader->offset);
    std::memcpy(buffer, reader->bytes.data() + reader->offset, n);
    reader->offset += n;
    return static_cast<ssize_t>(n);
}

std::string bounded(const char* text, size_t length) {
    return text == nullptr ? std::string() : std::string(text, std::min(length, kMaxText));
}
std::string bounded(const char* text) { return text == nullptr ? std::string() : bounded(text, strnlen(text, kMaxText)); }

// dateTime (RFC 2579) as "YYYY-MM-DDTHH:MM:SS".
std::string dateText(const ipp_uchar_t* d) {
    if (d == nullptr) return {};
    char text[32];
    std::snprintf(text, sizeof text, "%04u-%02u-%02uT%02u:%02u:%02u", (d[0] << 8) | d[1], d[2], d[3], d[4], d[5], d[6]);
    return text;
}

void flatten(ipp_t* collection, const std::string& prefix, int depth, std::string* out);

// Value `i` of `a`; `flattenDepth` is the depth of a collection value.
AttributeValue valueOf(ipp_attribute_t* a, int i, int flattenDepth) {
    using Kind = AttributeValue::Kind;
    AttributeValue v;
    switch (ippGetValueTag(a)) {
    case IPP_TAG_INTEGER: v.kind = Kind::Integer, v.number = ippGetInteger(a, i); break;
    case IPP_TAG_ENUM: v.kind = Kind::Enum, v.number = ippGetInteger(a, i); break;
    case IPP_TAG_BOOLEAN: v.kind = Kind::Boolean, v.number = ippGetBoolean(a, i) ? 1 : 0; break;
    case IPP_TAG_RANGE: v.kind = Kind::Range, v.number = ippGetRange(a, i, &v.upper); break;
    case IPP_TAG_RESOLUTION: {
        // libcups stores the units byte as it came, which may be no ipp_res_t
        // value: it is read back as an int.
        ipp_res_t units = IPP_RES_PER_INCH;
        v.kind = Kind::Resolution, v.number = ippGetResolution(a, i, &v.upper, &units);
        int unitsValue = 0;
        static_assert(sizeof units == sizeof unitsValue);
        std::memcpy(&unitsValue, &units, sizeof unitsValue);
        v.text = unitsValue == IPP_RES_PER_CM ? "dpcm" : "dpi";
        break;
    }
    case IPP_TAG_DATE: v.kind = Kind::Date, v.text = dateText(ippGetDate(a, i)); break;
    case IPP_TAG_TEXT: case IPP_TAG_NAME: case IPP_TAG_TEXTLANG: case IPP_TAG_NAMELANG:
        v.kind = Kind::Text, v.text = bounded(ippGetString(a, i, nullptr));
        break;
    case IPP_TAG_KEYWORD: case IPP_TAG_URI: case IPP_TAG_URISCHEME: case IPP_TAG_CHARSET: case IPP_TAG_LANGUAGE:
    case IPP_TAG_MIMETYPE: case IPP_TAG_MEMBERNAME:
        v.kind = Kind::Keyword, v.text = bounded(ippGetString(a, i, nullptr));
        break;
    case IPP_TAG_STRING: {
        int length = 0;
        const void* data = ippGetOctetString(a, i, &length);
        v.kind = Kind::Text, v.text = bounded(static_cast<const char*>(data), static_cast<size_t>(std::max(length, 0)));
        break;
    }
    case IPP_TAG_BEGIN_COLLECTION:
        v.kind = Kind::Collection;
        if (flattenDepth <= kMaxCollectionDepth) flatten(ippGetCollection(a, i), "", flattenDepth, &v.text);
        break;
    default: break;   // out-of-band values (no-value, unknown, ...) and tags the backend never reads
    }
    return v;
}

// A value inside a flattened collection.
std::string memberValueText(const AttributeValue& v) {
    using Kind = AttributeValue::Kind;
    switch (v.kind) {
    case Kind::Integer: case Kind::Enum: return std::to_string(v.number);
    case Kind::Boolean: return v.number ? "true" : "false";
    case Kind::Range: return std::to_string(v.number) + "-" + std::to_string(v.upper);
    case Kind::Resolution: return std::to_string(v.number) + "x" + std::to_string(v.upper) + v.text;
    default: return v.text;
    }
}

// Appends "prefix+name=value;" for each member of `collection`, nested
// collections as "prefix+name.member=value;", up to kMaxText bytes.
void flatten(ipp_t* collection, const std::string& prefix, int depth, std::string* out) {
    if (collection == nullptr) return;
    for (ipp_attribute_t* a = ippFirstAttribute(collection); a != nullptr && out->size() < kMaxText;
         a = ippNextAttribute(collection)) {
        const char* name = ippGetName(a);
        if (name == nullptr) continue;
        const std::string path = prefix + bounded(name);
        const int count = std::min<int>(ippGetCount(a), static_cast<int>(kMaxValues));
        if (ippGetValueTag(a) == IPP_TAG_BEGIN_COLLECTION) {
            if (depth < kMaxCollectionDepth)
                for (int i = 0; i < count && out->size() < kMaxText; ++i)
                    flatten(ippGetCollection(a, i), path + ".", depth + 1, out);
            continue;
        }
        std::string item = path + "=";
        for (int i = 0; i < count; ++i) {
            if (i) item += ',';
            item += memberValueText(valueOf(a, i, depth + 1));
        }
        *out += item + ";";
    }
    if (out->size() > kMaxText) out->resize(kMaxText);
}

// Fills `response` from the decoded message, within the bounds.
void convert(ipp_t* ipp, Response* response) {
    Attributes operation;
    Attributes* group = nullptr;
    ipp_tag_t current = IPP_TAG_ZERO;
    size_t totalValues = 0;
    for (ipp_attribute_t* a = ippFirstAttribute(ipp); a != nullptr; a = ippNextAttribute(ipp)) {
        const char* name = ippGetName(a);
        if (name == nullptr) {   // a separator: the next attribute opens a new group
            group = nullptr;
            current = IPP_TAG_ZERO;
            continue;
        }
        if (group == nullptr || ippGetGroupTag(a) != current) {
            current = ippGetGroupTag(a);
            group = nullptr;
            if (current == IPP_TAG_OPERATION) group = &operation;
            if (current == IPP_TAG_PRINTER) group = &response->printer;
            if (current == IPP_TAG_JOB && response->jobs.size() < kMaxJobs) group = &response->jobs.emplace_back();
        }
        if (group == nullptr || group->size() >= kMaxAttributes) continue;
        const std::string key = bounded(name);
        if (group->count(key) != 0) continue;   // the first of a repeated attribute counts
        const int count = std::min<int>(ippGetCount(a), static_cast<int>(kMaxValues));
        std::vector<AttributeValue> values;
        for (int i = 0; i < count && totalValues < kMaxTotalValues; ++i, ++totalValues)
            values.push_back(valueOf(a, i, 1));
        group->emplace(key, std::move(values));
    }
    response->message = textOf(operation, "status-message");
}

}  // namespace

std::string getPrinterAttributes(const Target& target, const std::vector<std::string>& requested) {
    Ipp ipp = newRequest(kOpGetPrinterAttributes, target);
    if (ipp) addKeywords(ipp.get(), "requested-attributes", requested);
    return encoded(ipp);
}

std::string getJobs(const Target& target, const std::vector<std::string>& requested) {
    Ipp ipp = newRequest(kOpGetJobs, target);
    if (ipp) {
        ippAddString(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_KEYWORD, "which-jobs", nullptr, "not-completed");
        addKeywords(ipp.get(), "requested-attributes", requested);
    }
    return encoded(ipp);
}

std::string cancelJob(const Target& target, int32_t jobId) {
    Ipp ipp = newRequest(kOpCancelJob, target);
    if (ipp) ippAddInteger(ipp.get(), IPP_TAG_OPERATION, IPP_TAG_INTEGER, "job-id", jobId);
    return encoded(ipp);
}

long decode(const std::string& body, bool endedByClose, int requestId, Response* response, std::string* error) {
    *response = {};
    Ipp ipp(ippNew());
    if (!ipp) return BCE_E_NO_MEMORY;
    MemoryReader reader{body};
    if (ippReadIO(&reader, readFrom, 1, nullptr, ipp.get()) != IPP_STATE_DATA) {
        if (endedByClose) {
            *error = "the printer closed the connection before the whole IPP message";
            return BCE_E_CONNECTION_RESET;
        }
        *error = "the response is not an IPP message";
        return BCE_E_BAD_REPLY;
    }
    if (ippGetRequestId(ipp.get()) != requestId) {
        *error = "the response answers request " + std::to_string(ippGetRequestId(ipp.get())) + ", not " +
                 std::to_string(requestId);
        return BCE_E_BAD_REPLY;
    }
    response->status = ippGetStatusCode(ipp.get());
    convert(ipp.get(), response);
    return 0;
}

std::string statusName(int status) { return ippErrorString(static_cast<ipp_status_t>(status)); }

}  // namespace kvnet::ipp::codec

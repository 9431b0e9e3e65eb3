// What a net:// printer answers from PJL on its print port, asked on demand
// when the URI names pjl and the snapshot (SNMP, IPP, the backend's own
// state) does not answer: the loop-back test (ECHO), the life page count
// (INFO PAGECOUNT), the variables of the map (pjl_variables.h) that the
// printer lists in INFO VARIABLES: read with DINQUIRE, written with DEFAULT
// and read back in the same block, the current font (pjl_font.cpp), and the
// settings' reset (INITIALIZE, with allow=reset).
#include <algorithm>
#include <cctype>
#include <cstdio>

#include "alert_data.h"
#include "core.h"
#include "encoders.h"
#include "kvprtobj/bidicodes.h"
#include "pjl_variables.h"

namespace kvnet {
namespace {

using kvsim::Bytes;

// ECHO carries the loop-back data as hex after this word: 2 digits a byte
// within the codec's bound on the words of ECHO.
constexpr std::string_view kEchoWord = "KVLOOP";
constexpr std::string_view kResetWord = "KVINITIALIZED";   // echoed after INITIALIZE
constexpr size_t kMaxLoopBack = (pjl::kMaxValue - kEchoWord.size()) / 2;
constexpr uint8_t kLifeCount = 1;   // page-count type of the printer's life count
constexpr unsigned long kFontRequestLength = 9;   // 0x97: tag, position, symbol set, size

uint16_t be16(const uint8_t* p) { return static_cast<uint16_t>((p[0] << 8) | p[1]); }

// Variables the backend keeps itself even when the map names them.
bool keptByBackend(uint16_t id) { return id == kvsim::kVarPropertyTag || id == kvsim::kVarTonerPageCount; }

// The ids of a 0x4E or 0x94 request; none for data of another form.
std::optional<std::vector<uint16_t>> requestedIds(unsigned short code, const uint8_t* data, unsigned long length) {
    std::vector<uint16_t> ids;
    if (code == kvbidi::kReadOMVar && length == 2) ids.push_back(be16(data));
    if (code == kvbidi::kReadMultiOMVars && length >= 1 && length == 1 + 2u * data[0])
        for (size_t i = 0; i < data[0]; ++i) ids.push_back(be16(data + 1 + 2 * i));
    if (ids.empty()) return std::nullopt;
    return ids;
}

// A value as DEFAULT writes it: the map's text, unquoted.
std::optional<std::string> defaultText(const kvsim::PjlVariable& v, const Bytes& value) {
    auto text = kvsim::pjlText(v, value);
    if (text && v.codec == kvsim::PjlCodec::Text) *text = text->substr(1, text->size() - 2);
    return text;
}

// The value a DINQUIRE reply gives `v`; none when the printer lacks the
// variable or holds a value the map cannot carry. False for a reply that
// is no answer about `v`.
bool inquired(const std::string& reply, const kvsim::PjlVariable& v, std::optional<Bytes>* value) {
    auto inquiry = pjl::parseInquiry(reply);
    if (!inquiry || inquiry->variable.size() != v.name.size() ||
        !std::equal(inquiry->variable.begin(), inquiry->variable.end(), v.name.begin(),
                    [](char a, char b) { return std::toupper(static_cast<unsigned char>(a)) == b; }))
        return false;
    *value = inquiry->known ? kvsim::pjlValue(v, inquiry->value, v.width) : std::nullopt;
    return true;
}

std::string hex(const uint8_t* data, size_t length) {
    std::string out;
    char digits[3];
    for (size_t i = 0; i < length; ++i) {
        std::snprintf(digits, sizeof digits, "%02X", data[i]);
        out += digits;
    }
    return out;
}

}  // namespace

bool NetPrinter::Core::pjlMayAnswer(unsigned short code) const {
    return wants(kPjl) && (code == kvbidi::kLoopBack || code == kvbidi::kPageCounts ||
                           code == kvbidi::kResetHostPageCount || code == kvbidi::kReadOMVar ||
                           code == kvbidi::kReadMultiOMVars || code == kvbidi::kSetOMVar ||
                           code == kvbidi::kCurrentFont || code == kvbidi::kSetCurrentFont ||
                           code == kvbidi::kResetNVRAM);
}

bool NetPrinter::Core::pjlAnswers(const Snapshot& s, unsigned short code, const uint8_t* data,
                                  unsigned long length) const {
    if (!pjlMayAnswer(code)) return false;
    auto fromPjl = [&](uint16_t id) {
        return kvsim::pjlVariable(id) != nullptr && !keptByBackend(id) && kvsim::findVariable(s.profile, id) == nullptr;
    };
    if (code == kvbidi::kLoopBack) return !s.answers(code);
    if (code == kvbidi::kCurrentFont || code == kvbidi::kSetCurrentFont || code == kvbidi::kResetNVRAM)
        return true;   // PJL alone carries them
    if (code == kvbidi::kPageCounts || code == kvbidi::kResetHostPageCount) return !s.answers(kvbidi::kPageCounts);
    if (code == kvbidi::kSetOMVar) return length >= 2 && fromPjl(be16(data));
    auto ids = requestedIds(code, data, length);
    return ids && std::any_of(ids->begin(), ids->end(), fromPjl);
}

long NetPrinter::Core::answerPjl(const Snapshot& s, const Outcome& o, unsigned short code, const uint8_t* data,
                                 unsigned long length, void* reply, unsigned long* replyLength) {
    // What PJL alone answers: variables from the snapshot stay as they are.
    kvsim::Profile answered;
    answered.variables = s.profile.variables;
    long rc = BCE_OK;
    switch (code) {
    case kvbidi::kLoopBack: {
        if (length > kMaxLoopBack) return BCE_E_INVALID;
        const std::string words = std::string(kEchoWord) + hex(data, length);
        pjl::Request request;
        request.echo(words);
        std::vector<std::string> replies;
        rc = pjlExchange(request, 1, &replies);
        if (rc == BCE_OK && pjl::parseEcho(replies[0]) != words) rc = BCE_E_BAD_REPLY;
        break;
    }
    case kvbidi::kPageCounts:
    case kvbidi::kResetHostPageCount: {
        if (code == kvbidi::kResetHostPageCount && length != 0) return BCE_E_INVALID;
        uint32_t life = 0;
        rc = readPjlPageCount(&life);
        if (rc != BCE_OK) break;
        std::lock_guard guard(lock);
        if (code == kvbidi::kResetHostPageCount) {
            hostPageBase = life;
            return kvsim::deliverReply(code, {BCE_OK, {}}, reply, replyLength);
        }
        uint32_t base = hostPageBase.value_or(0);
        answered.pageCounts = {{kLifeCount, life}, {s.profile.hostPageCountType, life >= base ? life - base : 0}};
        break;
    }
    case kvbidi::kReadOMVar:
    case kvbidi::kReadMultiOMVars: {
        auto ids = requestedIds(code, data, length);
        if (!ids) return BCE_E_INVALID;
        ids->erase(std::remove_if(ids->begin(), ids->end(),
                                  [&](uint16_t id) { return kvsim::findVariable(s.profile, id) != nullptr; }),
                   ids->end());
        std::vector<kvsim::Variable> read;
        rc = readPjlVariables(*ids, &read);
        answered.variables.insert(answered.variables.end(), read.begin(), read.end());
        break;
    }
    case kvbidi::kSetOMVar: {
        if (length > 2 + 255) return BCE_E_INVALID;
        rc = writePjlVariable(be16(data), Bytes(data + 2, data + length));
        if (rc == BCE_OK) return kvsim::deliverReply(code, {BCE_OK, Bytes{0x00, data[0], data[1]}}, reply, replyLength);
        break;
    }
    case kvbidi::kCurrentFont: {
        if (length != 0) return BCE_E_INVALID;
        kvsim::PjlFontField sizeField{};
        rc = readPjlFont(&answered.currentFont, &sizeField);
        break;
    }
    case kvbidi::kSetCurrentFont: {
        if (length != kFontRequestLength) return BCE_E_INVALID;
        const kvsim::CurrentFont font{data[0], be16(data + 1), be16(data + 3),
                                      static_cast<uint32_t>(be16(data + 5)) << 16 | be16(data + 7)};
        uint8_t status = 0;
        rc = writePjlFont(font, &status);
        if (rc == BCE_OK) return kvsim::deliverReply(code, {BCE_OK, Bytes{0x00, status}}, reply, replyLength);
        break;
    }
    case kvbidi::kResetNVRAM: {
        // Only with allow=reset: INITIALIZE, and an ECHO in the same block to
        // know the printer took it.
        if (length != 1 || data[0] != 0 || !(options.allowed & kAllowReset)) return BCE_E_INVALID;
        pjl::Request request;
        request.initialize();
        request.echo(kResetWord);
        logPjlChange("INITIALIZE (every setting to its factory value)");
        std::vector<std::string> replies;
        rc = pjlExchange(request, 1, &replies);
        if (rc == BCE_OK && pjl::parseEcho(replies[0]) != kResetWord) rc = BCE_E_BAD_REPLY;
        if (rc == BCE_OK) return kvsim::deliverReply(code, {BCE_OK, {}}, reply, replyLength);
        break;
    }
    default: return BCE_E_INVALID;
    }
    if (rc != BCE_OK) {
        // The print port is not there while another protocol answers: PJL's
        // data are not available (-3), the printer is.
        const bool channel = rc == BCE_E_TIMEOUT || rc == BCE_E_CHANNEL_DOWN || rc == BCE_E_CONNECTION_RESET;
        return channel && o.snmpOrIpp() ? BCE_E_INVALID : rc;
    }
    auto answer = kvsim::encodeRead(answered, {code, data, length});
    return answer ? kvsim::deliverReply(code, *answer, reply, replyLength) : BCE_E_INVALID;
}

long NetPrinter::Core::pjlExchange(const pjl::Request& request, size_t replies, std::vector<std::string>* out) {
    auto got = std::make_shared<std::vector<std::string>>();
    auto self = shared_from_this();
    long rc = onLoop([self, request, replies, got](std::function<void(long)> done) {
        self->printPort().exchange(request, replies, [got, done](PjlResult r) {
            *got = std::move(r.replies);
            done(r.rc);
        });
    });
    if (rc == BCE_OK) *out = std::move(*got);
    return rc;
}

long NetPrinter::Core::pjlInfo(const char* category, std::string* reply) {
    pjl::Request request;
    request.info(category);
    std::vector<std::string> replies;
    if (long rc = pjlExchange(request, 1, &replies); rc != BCE_OK) return rc;
    *reply = std::move(replies[0]);
    return BCE_OK;
}

long NetPrinter::Core::readPjlPageCount(uint32_t* count) {
    std::string reply;
    if (long rc = pjlInfo("PAGECOUNT", &reply); rc != BCE_OK) return rc;
    auto n = pjl::parsePageCount(reply);
    if (!n) return reply.find("\"?\"") != std::string::npos ? BCE_E_INVALID : BCE_E_BAD_REPLY;
    *count = static_cast<uint32_t>(std::min<uint64_t>(*n, UINT32_MAX));
    return BCE_OK;
}

// One block, one round trip: a DINQUIRE for each variable of the map.
long NetPrinter::Core::readPjlVariables(const std::vector<uint16_t>& ids, std::vector<kvsim::Variable>* out) {
    std::vector<const kvsim::PjlVariable*> asked;
    pjl::Request request;
    for (uint16_t id : ids) {
        const kvsim::PjlVariable* v = kvsim::pjlVariable(id);
        if (v == nullptr || keptByBackend(id)) continue;
        bool listed = false;
        if (long rc = pjlLists(id, &listed); rc != BCE_OK) return rc;
        if (!listed) continue;
        asked.push_back(v);
        request.dinquire(v->name);
    }
    if (asked.empty()) return BCE_OK;
    std::vector<std::string> replies;
    if (long rc = pjlExchange(request, asked.size(), &replies); rc != BCE_OK) return rc;
    for (size_t i = 0; i < asked.size(); ++i) {
        std::optional<Bytes> value;
        if (!inquired(replies[i], *asked[i], &value)) return BCE_E_BAD_REPLY;
        if (value) out->push_back({asked[i]->id, std::move(*value), asked[i]->readOnly});
    }
    return BCE_OK;
}

// The current value first: an equal one is not written again (the printer
// keeps defaults in memory that wears). Then DEFAULT and its read-back in
// one block: the write holds only when the printer reads back the value.
long NetPrinter::Core::writePjlVariable(uint16_t id, const Bytes& value) {
    const kvsim::PjlVariable* v = kvsim::pjlVariable(id);
    if (v == nullptr || v->readOnly || (v->width != 0 && value.size() != v->width)) return BCE_E_INVALID;
    auto text = defaultText(*v, value);
    auto wanted = text ? kvsim::pjlValue(*v, *text, v->width) : std::nullopt;
    if (!wanted) return BCE_E_INVALID;
    bool listed = false;
    if (long rc = pjlLists(id, &listed); rc != BCE_OK) return rc;
    if (!listed) return BCE_E_INVALID;

    std::vector<std::string> replies;
    pjl::Request read;
    read.dinquire(v->name);
    if (long rc = pjlExchange(read, 1, &replies); rc != BCE_OK) return rc;
    std::optional<Bytes> current;
    if (!inquired(replies[0], *v, &current)) return BCE_E_BAD_REPLY;
    if (current == wanted) return BCE_OK;

    pjl::Request write;
    if (!write.setDefault(v->name, *text) || !write.dinquire(v->name)) return BCE_E_INVALID;
    if (long rc = pjlExchange(write, 1, &replies); rc != BCE_OK) return rc;
    if (!inquired(replies[0], *v, &current)) return BCE_E_BAD_REPLY;
    if (current != wanted) return BCE_E_INVALID;   // the printer refused the value
    raise({{kvsim::kFamilyVariableEvent, kvsim::variableEventAlert(id, *wanted)}});
    return BCE_OK;
}

// The printer's INFO VARIABLES, asked once per printer: a variable it does
// not list is neither inquired nor written. A listing of none of the map's
// names, or the answer "?", leaves no variable; a failed exchange is asked
// again at the next request.
long NetPrinter::Core::pjlLists(uint16_t id, bool* listed) {
    {
        std::lock_guard guard(lock);
        if (pjlListed) {
            *listed = std::find(pjlListed->begin(), pjlListed->end(), id) != pjlListed->end();
            return BCE_OK;
        }
    }
    std::string reply;
    if (long rc = pjlInfo("VARIABLES", &reply); rc != BCE_OK) return rc;
    auto items = pjl::parseListing(reply, "VARIABLES");
    if (!items) return BCE_E_BAD_REPLY;
    std::vector<uint16_t> ids;
    for (const pjl::Listed& item : *items)
        if (const kvsim::PjlVariable* v = kvsim::pjlVariable(item.name)) ids.push_back(v->id);
    std::lock_guard guard(lock);
    pjlListed = std::move(ids);
    *listed = std::find(pjlListed->begin(), pjlListed->end(), id) != pjlListed->end();
    return BCE_OK;
}

}  // namespace kvnet

// Job-information texts: "KEY=value" items separated by ";".
#include <strings.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <string_view>

#include "kvprtobj/jobs.h"

namespace {

struct Key {
    const char* key;
    CString JOBINFOSTRINGS::*field;
};
// Keys in the order they are compared (ignoring case).
const Key kKeys[] = {
    {"HT", &JOBINFOSTRINGS::strHT}, {"UR", &JOBINFOSTRINGS::strUR}, {"SC", &JOBINFOSTRINGS::strSC},
    {"JN", &JOBINFOSTRINGS::strJN}, {"QU", &JOBINFOSTRINGS::strQU}, {"LS", &JOBINFOSTRINGS::strLS},
};

constexpr size_t kKeyLength = 2;
constexpr size_t kValueStart = 3;   // after the key and one separator character

bool sameKey(std::string_view key, const char* known) {
    return key.size() == std::strlen(known) && strncasecmp(key.data(), known, key.size()) == 0;
}

}  // namespace

void JOBINFOSTRINGS::parseJobInfo(unsigned char length, const char* text) {
    strLS.clear();
    strOther.clear();
    if (length == 0 || text == nullptr) return;

    const std::string_view info(text, strnlen(text, length));
    for (size_t start = 0; start <= info.size();) {
        size_t end = std::min(info.find(';', start), info.size());
        std::string_view item = info.substr(start, end - start);
        start = end + 1;
        if (item.size() < kValueStart) continue;   // empty, or a key without value

        std::string_view key = item.substr(0, kKeyLength);
        const Key* match = std::find_if(std::begin(kKeys), std::end(kKeys),
                                        [&](const Key& k) { return sameKey(key, k.key); });
        if (match != std::end(kKeys))
            this->*(match->field) = CString(item.substr(kValueStart));
        else
            strOther = CString(key);
    }
}

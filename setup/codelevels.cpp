// Code levels: the printer's code-level text (one "NAME: level" line per
// component) turned into CODELEVELS records, and code-level texts as numbers.
#include <algorithm>
#include <climits>
#include <cstdlib>
#include <cstring>
#include <new>

#include "kvprtobj/codelevel.h"
#include "kvprtobj/prtobj.h"
#include "prtobj/internal/ask.h"

namespace {

constexpr int32_t kBaseLevel = 7701;

// Component names of the code-level text, in the order they are compared.
struct Component {
    const char* name;
    int32_t id;
    int32_t instance;
};
constexpr Component kComponents[] = {
    {"ENG", 7702, 0},  {"ENGB", 7703, 0}, {"ENGF", 7704, 0}, {"PNL", 7705, 0},  {"DPX", 7706, 0},
    {"INA", 7707, 1},  {"INA1", 7707, 1}, {"INA2", 7707, 2}, {"CONT", 7708, 0}, {"FLKER", 7709, 0},
};

// Lines named SLOTn, by the first word of their value; "N/A" and any other
// word give no record. The instance is the slot number n.
constexpr char kSlotPrefix[] = "SLOT";
struct SlotContent {
    const char* word;
    int32_t id;
};
constexpr SlotContent kSlotContents[] = {{"INA", 7707}, {"ISL", 7710}};

char* skipBlanks(char* p) {
    while (*p == ' ') ++p;
    return p;
}

// The number at `text` read as atoi would, kept within int.
int32_t slotNumber(const char* text) {
    long n = std::strtol(text, nullptr, 10);
    return static_cast<int32_t>(std::clamp<long>(n, INT32_MIN, INT32_MAX));
}

struct Classified {
    int32_t id = 0;
    int32_t instance = 0;
    const char* level = nullptr;   // null: the line gives no record
};

// Classifies one line by its name; may cut `value` in place.
Classified classify(const char* name, char* value) {
    for (const Component& c : kComponents)
        if (std::strcmp(name, c.name) == 0) return {c.id, c.instance, value};
    if (std::strncmp(name, kSlotPrefix, sizeof kSlotPrefix - 1) != 0) return {};

    int32_t slot = slotNumber(name + sizeof kSlotPrefix - 1);
    char* blank = std::strchr(value, ' ');
    // The level follows the first word; a value of that word alone has an empty level.
    const char* level = "";
    if (blank != nullptr) {
        *blank = '\0';
        level = skipBlanks(blank + 1);
    }
    for (const SlotContent& s : kSlotContents)
        if (std::strcmp(value, s.word) == 0) return {s.id, slot, level};
    return {};
}

}  // namespace

// One record per component named in the printer's code-level text
// (miscellaneous variable 00 A6), headed by the base level (7701) kept from
// bidiGetDeviceChars or asked for with it. *levels receives a new array
// (delete[]) of 1 + (colons in the text) slots whose first `count` are
// filled. When the base level cannot be had, its failure code is returned
// but the parsed records are still handed over. A SLOT line whose value is
// the single word INA or ISL gives a record with an empty level text.
// -2 when the working copy of the text cannot be made; a null `levels`
// gives -18 and nothing is sent.
long KVPrtObj::bidiGetCodeLevels(int& count, CODELEVELS** levels) {
    if (levels == nullptr) return kvpo::kNullArgument;
    auto [rc, text] = kvpo::readMiscVariable(*this, kvbidi::kCodeLevelsVar);
    if (!text) return rc;

    // A working copy without a leading line feed, ended by a line feed and a
    // zero byte, so that the last line is parsed as well and the line walk
    // below ends inside the copy.
    const char* from = static_cast<const char*>(text.data);
    size_t length = text.length;
    if (length > 0 && from[0] == '\n') {
        ++from;
        --length;
    }
    kvpo::Buffer copy;
    copy.data = kvPrtObjNew(length + 2);
    if (copy.data == nullptr) return BCE_E_BAD_REPLY;   // reported as a bad reply, not as no memory
    char* work = static_cast<char*>(copy.data);
    std::memcpy(work, from, length);
    work[length] = '\n';
    work[length + 1] = '\0';

    // Every record but the first uses up one colon.
    const size_t slots = 1 + static_cast<size_t>(std::count(work, work + length, ':'));
    count = 0;
    CODELEVELS* array = new (std::nothrow) CODELEVELS[slots];
    *levels = array;
    if (array == nullptr) return BCE_E_NO_MEMORY;

    long result = 0;
    size_t filled = 0;
    array[0].lComponentId = kBaseLevel;
    CString base = m_strCodeLevel;
    if (base.empty()) {
        DEVICECHARS chars;
        result = bidiGetDeviceChars(&chars);   // on a failure the parsed records are handed over all the same
        base = chars.strCodeLevel;
    }
    if (result == 0) {
        array[0].strCodeLevel = base;
        filled = 1;
    }

    // Lines: the first colon and the first line feed from the cursor on end
    // the name and the value (a zero byte in the text ends the walk).
    for (char* cursor = work;;) {
        char* colon = std::strchr(cursor, ':');
        if (colon == nullptr) break;
        char* lineEnd = std::strchr(cursor, '\n');
        if (lineEnd == nullptr) break;
        *colon = '\0';
        *lineEnd = '\0';
        Classified line = classify(skipBlanks(cursor), skipBlanks(colon + 1));
        if (line.level != nullptr && filled < slots) array[filled++] = {line.id, line.instance, line.level};
        cursor = lineEnd + 1;
    }
    count = static_cast<int>(filled);
    return result;
}

long StrCodeLevelToLong(const CString& level) {
    uint32_t value = 0;
    uint32_t scale = 1;
    for (size_t i = level.size(); i-- > 1;) {   // index 0 is never looked at
        char c = level[i];
        if (c < '0' || c > '9') continue;
        value += static_cast<uint32_t>(c - '0') * scale;
        scale *= 10;
    }
    return static_cast<int32_t>(value);
}

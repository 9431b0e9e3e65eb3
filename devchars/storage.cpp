// Storage options: which disk, flash and font cartridge the printer carries,
// picked out of the printer's text entries at fixed character positions.
#include <optional>
#include <string_view>
#include <vector>

#include "devchars/internal/text.h"
#include "prtobj/internal/ask.h"

namespace {

using Options = KVPrtObj::STORAGEOPTIONS;

// Only the first device of each kind is recognised; field 1 of an entry is
// compared over the length of the device word. Flash and disk give their size
// and free space; the font cartridge (no size fields) gives its texts.
struct DeviceWord {
    std::string_view word;
    int32_t Options::*size;
    int32_t Options::*free;
};

constexpr DeviceWord kDeviceWords[] = {
    {"FLASH: 1", &Options::lFlashField2, &Options::lFlashField3},
    {"DISK: 1", &Options::lDiskField2, &Options::lDiskField3},
    {"FONT CARTRIDGE: 1", nullptr, nullptr},
};

// Where the values stand: field number (from 1) and character index in it.
struct Place {
    size_t field;
    size_t index;
};
constexpr int32_t kNoFreeSpaceFigure = -1;   // a free-space field of -1 reads as 0

constexpr Place kSizeNumber{2, 7};       // flash and disk, field 2
constexpr Place kFreeNumber{3, 12};      // flash and disk, field 3
constexpr Place kCartridgeText2{2, 9};
constexpr Place kCartridgeText4{4, 11};

// The fields of an entry split at ";", empty fields skipped, as strtok splits.
std::vector<std::string_view> splitFields(std::string_view entry) {
    std::vector<std::string_view> fields;
    size_t start = 0;
    while (start <= entry.size()) {
        size_t end = entry.find(';', start);
        if (end == std::string_view::npos) end = entry.size();
        if (end > start) fields.push_back(entry.substr(start, end - start));
        start = end + 1;
    }
    return fields;
}

// The text of a field from its character index on; nothing when the entry has
// no such field or the field is shorter than the index.
std::optional<std::string_view> valueAt(const std::vector<std::string_view>& fields, Place place) {
    if (place.field > fields.size()) return std::nullopt;
    std::string_view field = fields[place.field - 1];
    if (place.index > field.size()) return std::nullopt;
    return field.substr(place.index);
}

void readSizes(const std::vector<std::string_view>& fields, int32_t& size, int32_t& free) {
    if (auto text = valueAt(fields, kSizeNumber)) size = kvpo::leadingLong(*text);
    if (auto text = valueAt(fields, kFreeNumber)) {
        int32_t v = kvpo::leadingLong(*text);
        free = v == kNoFreeSpaceFigure ? 0 : v;
    }
}

void readCartridge(const std::vector<std::string_view>& fields, Options& o) {
    o.ulFontCartridge = 1;
    if (auto text = valueAt(fields, kCartridgeText2)) o.strCartridgeField2 = CString(*text);
    if (auto text = valueAt(fields, kCartridgeText4))
        o.strCartridgeField4 = text->starts_with("-1") ? CString() : CString(*text);
}

void applyEntry(std::string_view entry, Options& o) {
    const std::vector<std::string_view> fields = splitFields(entry);
    if (fields.empty()) return;
    for (const DeviceWord& d : kDeviceWords) {
        if (!fields[0].starts_with(d.word)) continue;
        if (d.size != nullptr)
            readSizes(fields, o.*d.size, o.*d.free);
        else
            readCartridge(fields, o);
        return;
    }
}

}  // namespace

// Storage devices (request 0x14): the first flash, disk and font-cartridge
// entries. An entry is text up to its first 0 byte, split into fields at
// ";" (empty fields skipped). ulFontCartridge, lFlashField2, lDiskField2
// and the two texts are reset first; lFlashField3 and lDiskField3 are
// written only when their entry is present. A value whose field is
// missing, or shorter than the character index it is read from, leaves its
// record field unchanged. A reply whose entries run past its end gives -2
// with the record untouched.
long KVPrtObj::bidiGetStorageOptions(STORAGEOPTIONS* options) {
    if (options == nullptr) return kvpo::kNullArgument;
    auto [rc, reply] = kvpo::ask(*this, kvbidi::kStorageOptions);
    if (!reply) return rc;

    // Every entry must lie within the reply before the record is touched.
    auto r = reply.reader();
    const unsigned n = r.u8();
    std::vector<std::string_view> entries;
    for (unsigned i = 0; i < n && r.ok(); ++i) {
        size_t length = r.u8();
        auto* text = reinterpret_cast<const char*>(r.here());
        if (r.skip(length)) entries.push_back(kvpo::cText(std::string_view(text, length)));
    }
    if (!r.ok()) return kvpo::kShortReply;

    options->ulFontCartridge = 0;
    options->lFlashField2 = 0;
    options->lDiskField2 = 0;
    options->strCartridgeField4.clear();
    options->strCartridgeField2.clear();
    for (std::string_view entry : entries) applyEntry(entry, *options);
    return BCE_OK;
}

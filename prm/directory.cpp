// The directory text of a storage device: "DEVICE: 1;CAPACITY: 4194304;
// FREE: 1048576;FILE: 48200 fonts/code39.ttf;" decoded into a
// DEVICEDIRECTORYDATA.
#include <charconv>
#include <new>
#include <string_view>
#include <utility>

#include "internal.h"

namespace {

using Directory = KVPrtObj::DEVICEDIRECTORYDATA;

std::string_view skipBlanks(std::string_view s) {
    size_t first = s.find_first_not_of(' ');
    return first == std::string_view::npos ? std::string_view{} : s.substr(first);
}

// The items of the text and what each fills; false for an item it cannot read.
// A number is a whole value of decimal digits.
bool readNumber(std::string_view value, uint64_t& field) {
    auto [end, error] = std::from_chars(value.data(), value.data() + value.size(), field);
    return !value.empty() && error == std::errc{} && end == value.data() + value.size();
}

bool readDevice(std::string_view value, Directory& d) {
    uint64_t n = 0;
    if (!readNumber(value, n) || n > 0xFF) return false;
    d.eDevice = static_cast<KVPrtObj::DEVICEID>(n);
    return true;
}

// "size name": the name is everything after the blank that ends the size.
bool readFile(std::string_view value, Directory& d) {
    size_t blank = value.find(' ');
    if (blank == std::string_view::npos || blank + 1 == value.size()) return false;
    Directory::FILEENTRY file;
    if (!readNumber(value.substr(0, blank), file.ullSize)) return false;
    file.strName = CString(value.substr(blank + 1));
    d.aFiles.push_back(std::move(file));
    return true;
}

struct Item {
    std::string_view key;
    bool (*read)(std::string_view value, Directory& d);
};

constexpr Item kItems[] = {
    {"DEVICE", readDevice},
    {"CAPACITY", [](std::string_view v, Directory& d) { return readNumber(v, d.ullCapacity); }},
    {"FREE", [](std::string_view v, Directory& d) { return readNumber(v, d.ullFreeSpace); }},
    {"FILE", readFile},
};

bool readItem(std::string_view item, Directory& d) {
    size_t colon = item.find(':');
    if (colon == std::string_view::npos) return false;
    std::string_view key = item.substr(0, colon);
    for (const Item& known : kItems)
        if (known.key == key) return known.read(skipBlanks(item.substr(colon + 1)), d);
    return true;   // an item of another key
}

}  // namespace

int parseResMgmtDirectoryData(CString data, KVPrtObj::DEVICEDIRECTORYDATA* directory) {
    if (directory == nullptr) return kvpo::kNullArgument;
    std::string_view text(data.c_str());   // up to the first zero byte
    try {
        Directory d;
        while (!text.empty()) {
            size_t end = text.find(';');
            std::string_view item = text.substr(0, end);
            if (!item.empty() && !readItem(item, d)) return BCE_E_BAD_REPLY;
            text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
        }
        *directory = std::move(d);
        return BCE_OK;
    } catch (const std::bad_alloc&) {
        return BCE_E_NO_MEMORY;
    }
}

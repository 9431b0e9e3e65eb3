#include "attributes.h"

#include <cctype>
#include <charconv>

#include "text.h"

namespace kvnet::ipp {
namespace {

const std::vector<AttributeValue>* valuesOf(const Attributes& group, const std::string& name) {
    auto it = group.find(name);
    return it == group.end() || it->second.empty() ? nullptr : &it->second;
}

bool isNumber(AttributeValue::Kind kind) {
    using Kind = AttributeValue::Kind;
    return kind == Kind::Integer || kind == Kind::Enum || kind == Kind::Boolean;
}

}  // namespace

int32_t numberOf(const Attributes& group, const std::string& name, int32_t fallback) {
    const auto* values = valuesOf(group, name);
    return values && isNumber(values->front().kind) ? values->front().number : fallback;
}

std::string textOf(const Attributes& group, const std::string& name, const std::string& fallback) {
    const auto* values = valuesOf(group, name);
    return values ? values->front().text : fallback;
}

std::vector<std::string> textsOf(const Attributes& group, const std::string& name) {
    std::vector<std::string> texts;
    if (const auto* values = valuesOf(group, name))
        for (const AttributeValue& v : *values) texts.push_back(v.text);
    return texts;
}

std::vector<int32_t> numbersOf(const Attributes& group, const std::string& name, int32_t fallback) {
    std::vector<int32_t> numbers;
    if (const auto* values = valuesOf(group, name))
        for (const AttributeValue& v : *values) numbers.push_back(isNumber(v.kind) ? v.number : fallback);
    return numbers;
}

Members membersOf(std::string_view text) {
    Members members;
    while (!text.empty() && members.size() < kMaxMembers) {
        size_t end = text.find(';');
        std::string_view item = text.substr(0, end);
        text = end == text.npos ? std::string_view() : text.substr(end + 1);
        size_t equals = item.find('=');
        if (equals == item.npos || equals == 0) continue;
        std::string key(item.substr(0, equals));
        for (char& c : key) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
        members.emplace(std::move(key), item.substr(equals + 1));   // the first of a repeated key counts
    }
    return members;
}

std::optional<int32_t> memberNumber(const Members& members, const std::string& key) {
    auto it = members.find(key);
    if (it == members.end()) return std::nullopt;
    const std::string& s = it->second;
    int32_t n = 0;
    auto [end, ec] = std::from_chars(s.data(), s.data() + s.size(), n);
    if (ec != std::errc() || end != s.data() + s.size()) return std::nullopt;
    return n;
}

std::string memberText(const Members& members, const std::string& key) {
    auto it = members.find(key);
    return it == members.end() ? std::string() : it->second;
}

std::string foldKeyword(std::string_view keyword) {
    std::string folded;
    for (char c : keyword)
        if (c != '-' && c != '_') folded += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return folded;
}

std::string latin1Line(std::string_view utf8, size_t max) {
    std::string text = toLatin1(oneLine(utf8));
    if (text.size() > max) text.resize(max);
    return text;
}

}  // namespace kvnet::ipp

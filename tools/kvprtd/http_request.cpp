#include <algorithm>
#include <cctype>

#include "http_server.h"

namespace kvprtd {

std::string lowerCase(std::string_view text) {
    std::string out(text);
    for (char& c : out) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

namespace {

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return c >= 'a' && c <= 'f' ? c - 'a' + 10 : -1;
}

// %XX escapes decoded (and '+' as a space in a query); a malformed escape stays as sent.
std::string percentDecoded(std::string_view text, bool plusIsSpace) {
    std::string out;
    out.reserve(text.size());
    for (size_t i = 0; i < text.size(); ++i) {
        if (text[i] == '%' && i + 2 < text.size() && hexDigit(text[i + 1]) >= 0 && hexDigit(text[i + 2]) >= 0) {
            out += static_cast<char>(hexDigit(text[i + 1]) * 16 + hexDigit(text[i + 2]));
            i += 2;
        } else {
            out += plusIsSpace && text[i] == '+' ? ' ' : text[i];
        }
    }
    return out;
}

std::vector<std::pair<std::string, std::string>> queryPairs(std::string_view query) {
    std::vector<std::pair<std::string, std::string>> pairs;
    while (!query.empty()) {
        std::string_view item = query.substr(0, query.find('&'));
        query.remove_prefix(std::min(query.size(), item.size() + 1));
        if (item.empty()) continue;
        size_t eq = item.find('=');
        pairs.emplace_back(percentDecoded(item.substr(0, eq), true),
                           eq == std::string_view::npos ? "" : percentDecoded(item.substr(eq + 1), true));
    }
    return pairs;
}

}  // namespace

void HttpRequest::setTarget(std::string_view target) {
    const size_t mark = target.find('?');
    path = percentDecoded(target.substr(0, mark), false);
    query.clear();
    if (mark != std::string_view::npos) query = queryPairs(target.substr(mark + 1));
}

std::string HttpRequest::header(std::string_view name) const {
    const std::string wanted = lowerCase(name);
    for (const auto& [key, value] : fields)
        if (lowerCase(key) == wanted) return value;
    return {};
}

bool HttpRequest::hasParam(std::string_view name) const {
    return std::any_of(query.begin(), query.end(), [&](const auto& p) { return p.first == name; });
}

std::string HttpRequest::param(std::string_view name) const {
    for (const auto& [key, value] : query)
        if (key == name) return value;
    return {};
}

}  // namespace kvprtd

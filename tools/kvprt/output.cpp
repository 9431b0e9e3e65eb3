#include "output.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

namespace kvprt {

std::string utf8(const std::string& latin1) {
    std::string out;
    out.reserve(latin1.size());
    for (unsigned char c : latin1) {
        if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

std::string jsonText(const json& value, int indent) {
    return value.dump(indent, ' ', false, json::error_handler_t::replace);
}

std::string escapeControls(const std::string& text) {
    std::string out;
    out.reserve(text.size());
    char escaped[5];
    for (size_t i = 0; i < text.size(); ++i) {
        auto c = static_cast<unsigned char>(text[i]);
        unsigned control = 0x100;   // none
        if (c < 0x20 || c == 0x7F)
            control = c;
        else if (c == 0xC2 && i + 1 < text.size() && (static_cast<unsigned char>(text[i + 1]) & 0xE0) == 0x80)
            control = static_cast<unsigned char>(text[++i]);   // U+0080 to U+009F
        if (control == 0x100) {
            out += text[i];
            continue;
        }
        std::snprintf(escaped, sizeof escaped, "\\x%02X", control);
        out += escaped;
    }
    return out;
}

std::string joined(const std::vector<std::string>& parts) {
    std::string out;
    for (const std::string& p : parts) out += (out.empty() ? "" : ", ") + p;
    return out;
}

std::string hexBytes(const uint8_t* bytes, size_t count) {
    std::string out;
    char pair[4];
    for (size_t i = 0; i < count; ++i) {
        std::snprintf(pair, sizeof pair, i ? " %02X" : "%02X", bytes[i]);
        out += pair;
    }
    return out;
}

json valueJson(const uint8_t* bytes, size_t count) {
    std::string text(reinterpret_cast<const char*>(bytes), count);
    bool printable = count > 0;
    for (unsigned char c : text) printable = printable && (c >= 0x20 || c == '\n' || c == '\t') && c != 0x7F;
    return {{"value", hexBytes(bytes, count)}, {"length", count}, {"text", printable ? json(utf8(text)) : json(nullptr)}};
}

bool parseHex(const std::string& text, std::vector<uint8_t>* bytes) {
    std::string digits;
    for (size_t i = 0; i < text.size(); ++i) {
        char c = text[i];
        if (std::isxdigit(static_cast<unsigned char>(c))) {
            digits += c;
        } else if ((c == ' ' || c == ':' || c == '-') && digits.size() % 2 == 0) {
            continue;   // separators only between pairs
        } else {
            return false;
        }
    }
    if (digits.size() % 2 != 0) return false;
    bytes->clear();
    for (size_t i = 0; i < digits.size(); i += 2)
        bytes->push_back(static_cast<uint8_t>(std::stoul(digits.substr(i, 2), nullptr, 16)));
    return true;
}

namespace {

// Display width of a UTF-8 text: one column per character.
size_t width(const std::string& s) {
    return static_cast<size_t>(std::count_if(s.begin(), s.end(), [](char c) { return (c & 0xC0) != 0x80; }));
}

bool numeric(const std::string& s) {
    if (s.empty() || s.find(' ') != std::string::npos) return false;
    return std::isdigit(static_cast<unsigned char>(s[0])) || (s[0] == '-' && s.size() > 1);
}

std::string pad(const std::string& s, size_t w, bool right) {
    std::string fill(w > width(s) ? w - width(s) : 0, ' ');
    return right ? fill + s : s + fill;
}

}  // namespace

Table::Table(std::vector<std::string> headers) : m_headers(std::move(headers)) {}

void Table::add(std::vector<std::string> cells) {
    cells.resize(m_headers.size());
    for (std::string& c : cells) c = escapeControls(c);
    m_rows.push_back(std::move(cells));
}

void Table::print(std::ostream& out, const std::string& indent) const {
    if (m_rows.empty()) {
        out << indent << "None.\n";
        return;
    }
    std::vector<size_t> widths(m_headers.size());
    std::vector<bool> right(m_headers.size(), true);
    for (size_t c = 0; c < m_headers.size(); ++c) {
        widths[c] = width(m_headers[c]);
        for (const auto& row : m_rows) {
            widths[c] = std::max(widths[c], width(row[c]));
            if (!row[c].empty() && row[c] != "-" && !numeric(row[c])) right[c] = false;
        }
    }
    auto line = [&](const std::vector<std::string>& cells) {
        std::string text = indent;
        for (size_t c = 0; c < cells.size(); ++c) {
            text += pad(cells[c], widths[c], right[c]);
            if (c + 1 < cells.size()) text += "  ";
        }
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out << text << '\n';
    };
    line(m_headers);
    for (const auto& row : m_rows) line(row);
}

void Fields::add(std::string label, std::string value) { m_lines.emplace_back(std::move(label), escapeControls(value)); }

void Fields::print(std::ostream& out, const std::string& indent) const {
    size_t w = 0;
    for (const auto& [label, value] : m_lines) w = std::max(w, width(label) + 1);
    for (const auto& [label, value] : m_lines) {
        std::string text = indent + pad(label + ":", w, false) + "  " + value;
        while (!text.empty() && text.back() == ' ') text.pop_back();
        out << text << '\n';
    }
}

std::string cell(const json& value) {
    if (value.is_null()) return "-";
    if (value.is_string()) return value.get<std::string>();
    return value.dump();
}

void heading(std::ostream& out, const std::string& title) { out << title << '\n'; }

}  // namespace kvprt

#include "json_node.h"

#include <cctype>

#include "text.h"

namespace kvsim {
namespace {

std::string childPath(const std::string& parent, std::string_view key) {
    return parent.empty() ? std::string(key) : parent + "." + std::string(key);
}

int hexDigit(char c) {
    if (c >= '0' && c <= '9') return c - '0';
    if (c >= 'a' && c <= 'f') return c - 'a' + 10;
    if (c >= 'A' && c <= 'F') return c - 'A' + 10;
    return -1;
}

}  // namespace

void Node::fail(const std::string& what) const { throw ProfileError((m_path.empty() ? "profile" : m_path) + ": " + what); }

void Node::expectObject(std::initializer_list<std::string_view> allowed) const {
    if (!m_json->is_object()) fail("expected an object");
    for (auto it = m_json->begin(); it != m_json->end(); ++it) {
        const std::string& key = it.key();
        if (!key.empty() && key[0] == '_') continue;
        bool known = false;
        for (std::string_view a : allowed) known = known || a == key;
        if (!known) Node(*it, childPath(m_path, key)).fail("unknown field");
    }
}

bool Node::has(const char* key) const { return m_json->is_object() && m_json->contains(key); }

Node Node::at(const char* key) const {
    if (!has(key)) Node(*m_json, childPath(m_path, key)).fail("missing");
    return Node((*m_json)[key], childPath(m_path, key));
}

std::optional<Node> Node::find(const char* key) const {
    if (!has(key)) return std::nullopt;
    return Node((*m_json)[key], childPath(m_path, key));
}

std::vector<Node> Node::items(size_t maxCount) const {
    if (!m_json->is_array()) fail("expected an array");
    if (m_json->size() > maxCount) fail("at most " + std::to_string(maxCount) + " entries");
    std::vector<Node> out;
    for (size_t i = 0; i < m_json->size(); ++i) out.emplace_back((*m_json)[i], m_path + "[" + std::to_string(i) + "]");
    return out;
}

uint32_t Node::number(uint32_t max) const {
    uint64_t v = 0;
    if (m_json->is_number_unsigned()) {
        v = m_json->get<uint64_t>();
    } else if (m_json->is_string()) {
        const std::string& s = m_json->get_ref<const std::string&>();
        bool ok = s.size() > 2 && s.size() <= 10 && s[0] == '0' && (s[1] == 'x' || s[1] == 'X');
        for (size_t i = 2; ok && i < s.size(); ++i) {
            int d = hexDigit(s[i]);
            ok = d >= 0;
            v = v * 16 + static_cast<uint64_t>(d < 0 ? 0 : d);
        }
        if (!ok) fail("expected a number or \"0x...\" hexadecimal text");
    } else {
        fail("expected an unsigned number");
    }
    if (v > max) fail("expected a number from 0 to " + std::to_string(max));
    return static_cast<uint32_t>(v);
}

double Node::decimal(double max) const {
    if (!m_json->is_number()) fail("expected a number");
    double v = m_json->get<double>();
    if (!(v >= 0 && v <= max)) fail("expected a number from 0 to " + std::to_string(static_cast<long>(max)));
    return v;
}

bool Node::boolean() const {
    if (!m_json->is_boolean()) fail("expected true or false");
    return m_json->get<bool>();
}

std::string Node::latin1(size_t maxLength) const {
    if (!m_json->is_string()) fail("expected a text");
    auto text = toLatin1(m_json->get_ref<const std::string&>());
    if (!text) fail("has characters outside ISO 8859-1");
    if (text->size() > maxLength) fail("longer than " + std::to_string(maxLength) + " characters");
    return *text;
}

std::string Node::cp850(size_t maxLength) const {
    if (!m_json->is_string()) fail("expected a text");
    auto text = toCp850(m_json->get_ref<const std::string&>());
    if (!text) fail("has characters outside code page 850");
    if (text->size() > maxLength) fail("longer than " + std::to_string(maxLength) + " characters");
    return *text;
}

Bytes Node::hex(size_t maxLength) const {
    if (!m_json->is_string()) fail("expected hexadecimal digits in a text");
    Bytes out;
    int high = -1;
    for (char c : m_json->get_ref<const std::string&>()) {
        if (c == ' ' || c == ':' || c == '-') {
            if (high >= 0) fail("hexadecimal digits come in pairs");
            continue;
        }
        int d = hexDigit(c);
        if (d < 0) fail("expected hexadecimal digits");
        if (high < 0) {
            high = d;
        } else {
            out.push_back(static_cast<uint8_t>(high * 16 + d));
            high = -1;
        }
    }
    if (high >= 0) fail("odd number of hexadecimal digits");
    if (out.size() > maxLength) fail("longer than " + std::to_string(maxLength) + " bytes");
    return out;
}

Bytes Node::bytes(size_t maxLength) const {
    if (m_json->is_string()) {
        std::string s = latin1(maxLength);
        return Bytes(s.begin(), s.end());
    }
    expectObject({"hex", "text", "u8", "be16", "be32"});
    if (m_json->size() != 1) fail("expected exactly one of hex, text, u8, be16, be32");
    Bytes out;
    if (auto n = find("hex")) return n->hex(maxLength);
    if (auto n = find("text")) {
        std::string s = n->latin1(maxLength);
        return Bytes(s.begin(), s.end());
    }
    if (auto n = find("u8")) return Bytes{static_cast<uint8_t>(n->number(0xFF))};
    if (auto n = find("be16")) {
        uint32_t v = n->number(0xFFFF);
        return Bytes{static_cast<uint8_t>(v >> 8), static_cast<uint8_t>(v)};
    }
    uint32_t v = at("be32").number(0xFFFFFFFF);
    out = {static_cast<uint8_t>(v >> 24), static_cast<uint8_t>(v >> 16), static_cast<uint8_t>(v >> 8),
           static_cast<uint8_t>(v)};
    if (out.size() > maxLength) fail("longer than " + std::to_string(maxLength) + " bytes");
    return out;
}

uint16_t Node::varId() const {
    if (m_json->is_number()) return static_cast<uint16_t>(number(0xFFFF));
    Bytes id = hex(2);
    if (id.size() != 2) fail("expected a two-byte variable id such as \"00 4D\"");
    return static_cast<uint16_t>((id[0] << 8) | id[1]);
}

void Node::get(const char* key, uint8_t& out) const {
    if (auto n = find(key)) out = static_cast<uint8_t>(n->number(0xFF));
}

void Node::get(const char* key, uint16_t& out) const {
    if (auto n = find(key)) out = static_cast<uint16_t>(n->number(0xFFFF));
}

void Node::get(const char* key, uint32_t& out) const {
    if (auto n = find(key)) out = n->number(0xFFFFFFFF);
}

void Node::get(const char* key, bool& out) const {
    if (auto n = find(key)) out = n->boolean();
}

void Node::get(const char* key, std::string& out, size_t maxLength) const {
    if (auto n = find(key)) out = n->latin1(maxLength);
}

}  // namespace kvsim

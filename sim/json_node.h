// Checked reading of a JSON profile: every value is read through a Node that
// knows its path ("inputBins[2].capacity"), so every refusal names the field.
// Keys beginning with "_" are comments and are allowed anywhere.
#pragma once

#include <cstdint>
#include <initializer_list>
#include <optional>
#include <stdexcept>
#include <string>
#include <string_view>
#include <vector>

#include <nlohmann/json.hpp>

namespace kvsim {

using Bytes = std::vector<uint8_t>;

// Thrown inside the loader only; loadProfile turns it into its error text.
struct ProfileError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class Node {
public:
    Node(const nlohmann::json& json, std::string path) : m_json(&json), m_path(std::move(path)) {}

    const std::string& path() const { return m_path; }
    [[noreturn]] void fail(const std::string& what) const;

    // An object whose keys are all among `allowed`.
    void expectObject(std::initializer_list<std::string_view> allowed) const;
    bool has(const char* key) const;
    // A member that must be there.
    Node at(const char* key) const;
    std::optional<Node> find(const char* key) const;
    // The elements of an array of at most `maxCount` elements.
    std::vector<Node> items(size_t maxCount = 0xFFFF) const;

    // An unsigned integer up to `max`, written as a number or as "0x..." text.
    uint32_t number(uint32_t max) const;
    // A number from 0 to `max`, whole or with decimals.
    double decimal(double max) const;
    bool boolean() const;
    // Text as the printer sends it: ISO 8859-1 (or code page 850), at most maxLength bytes.
    std::string latin1(size_t maxLength = 255) const;
    std::string cp850(size_t maxLength) const;
    // Hexadecimal digits, blanks allowed between them.
    Bytes hex(size_t maxLength = 255) const;
    // Bytes given as {"hex": ...}, {"text": ...}, {"u8": n}, {"be16": n}, {"be32": n}, or a plain text.
    Bytes bytes(size_t maxLength = 255) const;
    // A two-byte variable id: "00 4D", "004D" or a number.
    uint16_t varId() const;

    // Optional members: the target keeps its value when the key is absent.
    void get(const char* key, uint8_t& out) const;
    void get(const char* key, uint16_t& out) const;
    void get(const char* key, uint32_t& out) const;
    void get(const char* key, bool& out) const;
    void get(const char* key, std::string& out, size_t maxLength = 255) const;   // ISO 8859-1

private:
    const nlohmann::json* m_json;
    std::string m_path;
};

}  // namespace kvsim

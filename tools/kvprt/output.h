// Output of kvprt: aligned tables and key/value blocks for people, JSON for
// programs, and the conversions both need (printer texts are ISO 8859-1).
#pragma once

#include <cstdint>
#include <ostream>
#include <string>
#include <vector>

#include <nlohmann/json.hpp>

namespace kvprt {

// Objects keep their keys in the order they were written.
using json = nlohmann::ordered_json;

// The JSON text of `value` (indent -1: one line). Bytes that are not UTF-8
// (a path or a name typed in another encoding) become U+FFFD instead of
// failing the output.
std::string jsonText(const json& value, int indent);
// A printer text (ISO 8859-1, as the library hands texts over) in UTF-8.
std::string utf8(const std::string& latin1);
// Texts joined by ", " ("" for none).
std::string joined(const std::vector<std::string>& parts);
// Bytes as upper-case hexadecimal pairs separated by blanks ("07 54").
std::string hexBytes(const uint8_t* bytes, size_t count);
// A variable's value bytes: {"value": hex pairs, "length": n, "text": the
// bytes as text when they are all printable (line breaks and tabs allowed),
// else null}.
json valueJson(const uint8_t* bytes, size_t count);
// A UTF-8 text made safe for a terminal: control characters (C0, DEL and
// C1, line breaks included) become \xHH, so that a printer's text cannot
// move the cursor, clear the screen or set the window title.
std::string escapeControls(const std::string& text);
// Hexadecimal digits (blanks, ':' and '-' allowed between pairs) as bytes;
// false for anything else or an odd number of digits.
bool parseHex(const std::string& text, std::vector<uint8_t>* bytes);

// A table of text cells printed with aligned columns; numbers (cells that
// begin with a digit or a minus sign and hold no blank) are right-aligned.
// A table without rows prints "None.". Cells are escaped (escapeControls).
class Table {
public:
    explicit Table(std::vector<std::string> headers);
    void add(std::vector<std::string> cells);
    bool empty() const { return m_rows.empty(); }
    void print(std::ostream& out, const std::string& indent = "  ") const;

private:
    std::vector<std::string> m_headers;
    std::vector<std::vector<std::string>> m_rows;
};

// Aligned "Label:  value" lines, the values escaped (escapeControls).
class Fields {
public:
    void add(std::string label, std::string value);
    void print(std::ostream& out, const std::string& indent = "  ") const;

private:
    std::vector<std::pair<std::string, std::string>> m_lines;
};

// A JSON value as a cell: texts as they stand, null as "-", numbers and
// booleans as JSON writes them.
std::string cell(const json& value);
// A section heading of the human output.
void heading(std::ostream& out, const std::string& title);

}  // namespace kvprt

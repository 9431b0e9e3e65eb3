// Printer texts into the character sets the library's replies carry: ISO
// 8859-1 for names and descriptions, code page 850 for the operator panel.
// Devices send UTF-8, UTF-16, Shift_JIS and more (prtLocalizationCharacterSet
// names which), pad with NUL bytes and split descriptions over lines.
#pragma once

#include <cstddef>
#include <string>
#include <string_view>

namespace kvnet {

// IANA character-set numbers (MIBenum) devices use.
enum Charset : unsigned {
    kCharsetUnknown = 0,
    kCharsetAscii = 3,
    kCharsetLatin1 = 4,
    kCharsetLatin2 = 5,       // ISO 8859-2 to 8859-9 are 5 to 12
    kCharsetLatin5 = 12,
    kCharsetShiftJis = 17,
    kCharsetEucJp = 18,
    kCharsetUtf8 = 106,
    kCharsetLatin9 = 111,     // ISO 8859-15
    kCharsetUcs2 = 1000,      // csUnicode: UCS-2, big-endian
    kCharsetUcs4 = 1001,
    kCharsetUtf16Be = 1013,
    kCharsetUtf16Le = 1014,
    kCharsetUtf16 = 1015,
    kCharsetCp850 = 2009,
    kCharsetWindows31J = 2024,
    kCharsetGb2312 = 2025,
    kCharsetBig5 = 2026,
    kCharsetWindows1252 = 2252,
};

// `bytes` in character set `charset` as UTF-8. An unknown or missing set is
// guessed: UTF-16 when the bytes start with a byte-order mark or look like
// UTF-16 (a zero byte in every other position), else UTF-8 when they are
// valid UTF-8, else ISO 8859-1. A leading byte-order mark is dropped; bytes
// that do not convert become U+FFFD.
std::string toUtf8(std::string_view bytes, unsigned charset);
// UTF-8 as ISO 8859-1 or as code page 850; a character neither holds becomes '?'.
std::string toLatin1(std::string_view utf8);
std::string toCp850(std::string_view utf8);
// A device's text made one clean line: cut at the first NUL, control
// characters (line breaks of descriptions written over two lines) become
// blanks, runs of blanks one blank, no blank at either end.
std::string oneLine(std::string_view text);
// Copies `text` into a fixed NUL-terminated field of `size` bytes (a field of
// the printer information), cut to fit.
void copyField(char* field, size_t size, std::string_view text);

}  // namespace kvnet

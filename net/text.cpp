#include "text.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

namespace kvnet {
namespace {

const char* iconvName(unsigned charset) {
    static const char* const kLatin[] = {"ISO-8859-2", "ISO-8859-3", "ISO-8859-4", "ISO-8859-5",
                                         "ISO-8859-6", "ISO-8859-7", "ISO-8859-8", "ISO-8859-9"};
    if (charset >= kCharsetLatin2 && charset <= kCharsetLatin5) return kLatin[charset - kCharsetLatin2];
    switch (charset) {
    case kCharsetAscii: return "US-ASCII";
    case kCharsetLatin1: return "ISO-8859-1";
    case kCharsetShiftJis: return "SHIFT_JIS";
    case kCharsetEucJp: return "EUC-JP";
    case kCharsetUtf8: return "UTF-8";
    case kCharsetLatin9: return "ISO-8859-15";
    case kCharsetUcs2: return "UCS-2BE";
    case kCharsetUcs4: return "UCS-4BE";
    case kCharsetUtf16Be: return "UTF-16BE";
    case kCharsetUtf16Le: return "UTF-16LE";
    case kCharsetUtf16: return "UTF-16";
    case kCharsetCp850: return "CP850";
    case kCharsetWindows31J: return "CP932";
    case kCharsetGb2312: return "GB2312";
    case kCharsetBig5: return "BIG5";
    case kCharsetWindows1252: return "WINDOWS-1252";
    default: return nullptr;
    }
}

bool validUtf8(std::string_view s) {
    for (size_t i = 0; i < s.size();) {
        unsigned char c = static_cast<unsigned char>(s[i]);
        size_t n = c < 0x80 ? 0 : (c & 0xE0) == 0xC0 ? 1 : (c & 0xF0) == 0xE0 ? 2 : (c & 0xF8) == 0xF0 ? 3 : 4;
        if (n == 4 || i + n >= s.size()) return false;
        for (size_t k = 1; k <= n; ++k)
            if ((static_cast<unsigned char>(s[i + k]) & 0xC0) != 0x80) return false;
        i += n + 1;
    }
    return true;
}

// The bytes of the UTF-8 sequence at `p`: its lead byte and the continuation
// bytes that follow it, up to the length the lead byte announces.
size_t utf8Sequence(const char* p, size_t left) {
    auto lead = static_cast<unsigned char>(p[0]);
    size_t length = lead >= 0xF0 && lead < 0xF8 ? 4 : lead >= 0xE0 && lead < 0xF0 ? 3 : lead >= 0xC0 ? 2 : 1;
    size_t k = 1;
    while (k < length && k < left && (static_cast<unsigned char>(p[k]) & 0xC0) == 0x80) ++k;
    return k;
}

// Converts with iconv; an input unit that does not convert becomes `bad`
// and is skipped: `badWidth` bytes, or (0) a whole UTF-8 sequence.
std::string convert(std::string_view in, const char* from, const char* to, std::string_view bad, size_t badWidth) {
    iconv_t cd = ::iconv_open(to, from);
    if (cd == reinterpret_cast<iconv_t>(-1)) return std::string(in);
    std::string out;
    char buffer[256];
    char* src = const_cast<char*>(in.data());
    size_t left = in.size();
    while (left > 0) {
        char* dst = buffer;
        size_t room = sizeof buffer;
        size_t rc = ::iconv(cd, &src, &left, &dst, &room);
        out.append(buffer, static_cast<size_t>(dst - buffer));
        if (rc != static_cast<size_t>(-1)) break;
        if (errno == E2BIG) continue;
        // EILSEQ or EINVAL: one unit that does not convert.
        out.append(bad);
        size_t width = badWidth ? badWidth : utf8Sequence(src, left);
        size_t skip = std::min(left, width);
        src += skip;
        left -= skip;
    }
    ::iconv_close(cd);
    return out;
}

size_t unitWidth(unsigned charset) {
    switch (charset) {
    case kCharsetUtf16Be: case kCharsetUtf16Le: case kCharsetUtf16: case kCharsetUcs2: return 2;
    case kCharsetUcs4: return 4;
    default: return 1;
    }
}

// The set of bytes whose character set the device did not name: UTF-16
// (by byte-order mark, or by a zero byte in every other position of the
// characters before any zero padding), UTF-8 when valid, else ISO 8859-1.
unsigned guessCharset(std::string_view bytes) {
    if (bytes.size() >= 2) {
        auto b0 = static_cast<unsigned char>(bytes[0]), b1 = static_cast<unsigned char>(bytes[1]);
        if (b0 == 0xFE && b1 == 0xFF) return kCharsetUtf16Be;
        if (b0 == 0xFF && b1 == 0xFE) return kCharsetUtf16Le;
        size_t pairs = 0, high = 0, low = 0;   // pairs with a zero first byte / second byte only
        for (size_t i = 0; i + 1 < bytes.size(); i += 2) {
            bool z0 = bytes[i] == '\0', z1 = bytes[i + 1] == '\0';
            if (z0 && z1) break;   // padding
            ++pairs;
            high += z0 && !z1;
            low += z1 && !z0;
        }
        if (pairs > 0 && high == pairs) return kCharsetUtf16Be;
        if (pairs > 0 && low == pairs) return kCharsetUtf16Le;
    }
    return validUtf8(bytes) ? kCharsetUtf8 : kCharsetLatin1;
}

}  // namespace

std::string toUtf8(std::string_view bytes, unsigned charset) {
    const char* name = iconvName(charset);
    if (name == nullptr) {
        charset = guessCharset(bytes);
        name = iconvName(charset);
    }
    std::string out = convert(bytes, name, "UTF-8", "\xEF\xBF\xBD", unitWidth(charset));
    if (out.starts_with("\xEF\xBB\xBF")) out.erase(0, 3);   // U+FEFF, a byte-order mark
    return out;
}

namespace {
// A character the target lacks is one '?'; so is each broken sequence.
std::string fromUtf8(std::string_view utf8, const char* to) { return convert(utf8, "UTF-8", to, "?", 0); }
}  // namespace

std::string toLatin1(std::string_view utf8) { return fromUtf8(utf8, "ISO-8859-1"); }
std::string toCp850(std::string_view utf8) { return fromUtf8(utf8, "CP850"); }

std::string oneLine(std::string_view text) {
    text = text.substr(0, text.find('\0'));
    std::string out;
    bool blank = false;
    for (char c : text) {
        unsigned char u = static_cast<unsigned char>(c);
        bool space = u < 0x20 || u == 0x7F || c == ' ';
        if (space) {
            blank = !out.empty();
            continue;
        }
        if (blank) out += ' ';
        blank = false;
        out += c;
    }
    return out;
}

void copyField(char* field, size_t size, std::string_view text) {
    std::memset(field, 0, size);
    std::memcpy(field, text.data(), std::min(text.size(), size - 1));
}

}  // namespace kvnet

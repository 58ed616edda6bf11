#pragma once
#include <cstdint>
#include <string>
#include <string_view>

namespace tabulon::engine {

// The engine's one way from UTF-16 and code points to UTF-8, for every reader: .xls and
// .xlsb text, compound-file names, UTF-16 XML parts, character references and _xHHHH_
// escapes. One policy throughout:
// - a surrogate pair becomes its character; a surrogate without its partner becomes U+FFFD;
// - NUL becomes U+FFFD as well. No format stores NUL as text someone typed (XML cannot hold
//   it, and the application ends a string there), and a NUL byte in a CSV file makes common
//   CSV readers stop; the replacement character keeps the length and shows that something
//   stood there. Names that end at a NUL (compound-file directory entries) are cut there by
//   their reader before conversion.
// - code points beyond U+10FFFF become U+FFFD.

inline constexpr uint32_t kReplacementCharacter = 0xFFFD;

// Appends one code point.
inline void appendCodePoint(uint32_t cp, std::string& out)
{
    if (cp == 0 || (cp >= 0xD800 && cp <= 0xDFFF) || cp > 0x10FFFF)
        cp = kReplacementCharacter;
    if (cp < 0x80) {
        out.push_back(static_cast<char>(cp));
    } else if (cp < 0x800) {
        out.push_back(static_cast<char>(0xC0 | (cp >> 6)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
        out.push_back(static_cast<char>(0xE0 | (cp >> 12)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    } else {
        out.push_back(static_cast<char>(0xF0 | (cp >> 18)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 12) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | ((cp >> 6) & 0x3F)));
        out.push_back(static_cast<char>(0x80 | (cp & 0x3F)));
    }
}

// Appends `units` UTF-16 code units stored as bytes, little-endian (binary formats) unless
// `bigEndian`.
inline void appendUtf16(const uint8_t* bytes, size_t units, std::string& out, bool bigEndian = false)
{
    const int high = bigEndian ? 0 : 1;
    auto unit = [&](size_t i) -> uint32_t { return uint32_t(bytes[2 * i + 1 - high]) | uint32_t(bytes[2 * i + high]) << 8; };
    for (size_t i = 0; i < units; ++i) {
        uint32_t cp = unit(i);
        if (cp >= 0xD800 && cp <= 0xDBFF && i + 1 < units) {
            const uint32_t low = unit(i + 1);
            if (low >= 0xDC00 && low <= 0xDFFF) {
                cp = 0x10000 + ((cp - 0xD800) << 10) + (low - 0xDC00);
                ++i;
            }
        }
        appendCodePoint(cp, out);
    }
}
inline void appendUtf16(std::string_view bytes, std::string& out, bool bigEndian = false)
{
    appendUtf16(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size() / 2, out, bigEndian);
}

// Decodes the UTF-8 code point at `i` and moves `i` past it. A malformed or cut-off sequence
// decodes its first byte as itself, so every byte string decodes and nothing is skipped.
inline char32_t nextCodePoint(std::string_view s, size_t& i)
{
    const unsigned char c = static_cast<unsigned char>(s[i]);
    int len = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 1;
    if (i + size_t(len) > s.size())
        len = 1;
    char32_t cp = len == 1 ? c : len == 2 ? (c & 0x1F) : len == 3 ? (c & 0x0F) : (c & 0x07);
    for (int k = 1; k < len; ++k) {
        const unsigned char cc = static_cast<unsigned char>(s[i + size_t(k)]);
        if ((cc & 0xC0) != 0x80) {
            len = 1;
            cp = c;
            break;
        }
        cp = (cp << 6) | (cc & 0x3F);
    }
    i += size_t(len);
    return cp;
}

}  // namespace tabulon::engine

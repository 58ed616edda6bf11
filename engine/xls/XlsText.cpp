#include "XlsText.h"

#include <iconv.h>

#include <algorithm>
#include <cerrno>
#include <cstring>

#include "../io/Utf.h"

namespace tabulon::engine::xls {
namespace {
const char* iconvName(uint16_t id)
{
    switch (id) {
    case 437: return "CP437";
    case 737: return "CP737";
    case 775: return "CP775";
    case 850: return "CP850";
    case 852: return "CP852";
    case 855: return "CP855";
    case 857: return "CP857";
    case 860: return "CP860";
    case 861: return "CP861";
    case 862: return "CP862";
    case 863: return "CP863";
    case 864: return "CP864";
    case 865: return "CP865";
    case 866: return "CP866";
    case 869: return "CP869";
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    case 1361: return "JOHAB";
    case 10000: return "MACINTOSH";
    case 10006: return "MAC-GREEK";
    case 10007: return "MAC-CYRILLIC";
    case 10029: return "MAC-CENTRALEUROPE";
    case 10079: return "MAC-IS";
    case 10081: return "MAC-TURKISH";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    case 32768: return "MACINTOSH";  // the code page id of files saved on a Macintosh
    default: return "CP1252";        // 1252, 32769 (the Windows code page of old files), 367 (ASCII), unknown
    }
}
}  // namespace

Codepage::~Codepage()
{
    if (m_iconv)
        iconv_close(static_cast<iconv_t>(m_iconv));
}

void Codepage::set(uint16_t id)
{
    if (id == m_id)
        return;
    if (m_iconv)
        iconv_close(static_cast<iconv_t>(m_iconv));
    m_iconv = nullptr;
    m_tried = false;
    m_id = id;
}

void Codepage::append(std::string_view bytes, std::string& out)
{
    if (std::all_of(bytes.begin(), bytes.end(), [](char c) { return static_cast<unsigned char>(c) < 0x80; })) {
        out += bytes;
        return;
    }
    if (!m_tried) {
        m_tried = true;
        iconv_t cd = iconv_open("UTF-8", iconvName(m_id));
        if (cd == reinterpret_cast<iconv_t>(-1))
            cd = iconv_open("UTF-8", "CP1252");
        m_iconv = cd == reinterpret_cast<iconv_t>(-1) ? nullptr : cd;
    }
    if (!m_iconv) {
        appendLatin1(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out);
        return;
    }
    auto cd = static_cast<iconv_t>(m_iconv);
    iconv(cd, nullptr, nullptr, nullptr, nullptr);
    char* in = const_cast<char*>(bytes.data());
    size_t inLeft = bytes.size();
    char buffer[1024];
    while (inLeft > 0) {
        char* dst = buffer;
        size_t dstLeft = sizeof buffer;
        const size_t rc = iconv(cd, &in, &inLeft, &dst, &dstLeft);
        out.append(buffer, static_cast<size_t>(dst - buffer));
        if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
            // A byte the code page does not define (or a cut double-byte character).
            appendCodePoint(kReplacementCharacter, out);
            ++in;
            --inLeft;
            iconv(cd, nullptr, nullptr, nullptr, nullptr);
        }
    }
}

void appendLatin1(const uint8_t* bytes, size_t count, std::string& out)
{
    for (size_t i = 0; i < count; ++i) {
        const uint8_t c = bytes[i];
        if (c == 0) {
            appendCodePoint(c, out);  // the text layer's rule for NUL
        } else if (c < 0x80) {
            out += static_cast<char>(c);
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
}

bool SegmentReader::nextSegment()
{
    while (m_segment + 1 < m_segments.size()) {
        ++m_segment;
        m_pos = 0;
        if (!m_segments[m_segment].empty())
            return true;
    }
    return false;
}

bool SegmentReader::atEnd()
{
    while (m_pos >= m_segments[m_segment].size())
        if (!nextSegment())
            return true;
    return false;
}

uint8_t SegmentReader::u8()
{
    if (atEnd())
        throw Truncated{};
    return static_cast<uint8_t>(m_segments[m_segment][m_pos++]);
}

uint16_t SegmentReader::u16()
{
    const uint16_t lo = u8();
    return static_cast<uint16_t>(lo | (u8() << 8));
}

uint32_t SegmentReader::u32()
{
    const uint32_t lo = u16();
    return lo | (uint32_t(u16()) << 16);
}

void SegmentReader::skip(uint64_t n)
{
    while (n > 0) {
        if (atEnd())
            throw Truncated{};
        const size_t take = static_cast<size_t>(std::min<uint64_t>(n, m_segments[m_segment].size() - m_pos));
        m_pos += take;
        n -= take;
    }
}

void SegmentReader::chars(size_t cch, bool wide, std::string& out)
{
    // The usual case: the whole string lies in the current segment.
    if (m_pos < m_segments[m_segment].size()) {
        const std::string_view seg = m_segments[m_segment];
        const auto* p = reinterpret_cast<const uint8_t*>(seg.data()) + m_pos;
        const size_t avail = seg.size() - m_pos;
        if (wide && avail / 2 >= cch) {
            appendUtf16(p, cch, out);
            m_pos += cch * 2;
            return;
        }
        if (!wide && avail >= cch) {
            appendLatin1(p, cch, out);
            m_pos += cch;
            return;
        }
    }
    // The string goes on in CONTINUE records. Gather its UTF-16 code units first, so that a
    // surrogate pair split between two records is still read as one character.
    std::string units;
    while (cch > 0) {
        if (m_pos >= m_segments[m_segment].size()) {
            if (!nextSegment())
                throw Truncated{};
            // Each CONTINUE record restates the width.
            wide = (static_cast<uint8_t>(m_segments[m_segment][m_pos++]) & 1) != 0;
            continue;
        }
        const std::string_view seg = m_segments[m_segment];
        const size_t avail = seg.size() - m_pos;
        if (wide) {
            const size_t take = std::min(cch, avail / 2);
            if (take == 0) {
                m_pos = seg.size();  // half a character at a segment's end: drop it
                continue;
            }
            units.append(seg.substr(m_pos, take * 2));
            m_pos += take * 2;
            cch -= take;
        } else {
            const size_t take = std::min(cch, avail);
            for (size_t i = 0; i < take; ++i) {
                units.push_back(seg[m_pos + i]);
                units.push_back('\0');
            }
            m_pos += take;
            cch -= take;
        }
    }
    appendUtf16(reinterpret_cast<const uint8_t*>(units.data()), units.size() / 2, out);
}

void SegmentReader::unicodeString(size_t cch, std::string& out)
{
    const uint8_t flags = u8();
    uint16_t runs = 0;
    uint32_t phonetic = 0;
    if (flags & 0x08)
        runs = u16();
    if (flags & 0x04)
        phonetic = u32();
    chars(cch, (flags & 0x01) != 0, out);
    skip(uint64_t(runs) * 4 + phonetic);
}

void SegmentReader::byteString(size_t cch, Codepage& codepage, std::string& out)
{
    m_scratch.clear();
    while (m_scratch.size() < cch) {
        if (atEnd())
            throw Truncated{};
        const std::string_view seg = m_segments[m_segment];
        const size_t take = std::min(cch - m_scratch.size(), seg.size() - m_pos);
        m_scratch.append(seg.data() + m_pos, take);
        m_pos += take;
    }
    codepage.append(m_scratch, out);
}

}  // namespace tabulon::engine::xls

#include "XlsText.h"

#include <algorithm>
#include <cstring>

#include "../io/Utf.h"
#include "../platform/Codepage.h"

namespace tabulon::engine::xls {
namespace {
// The Windows code page behind a CODEPAGE record's value: the pages old workbooks were
// saved in, the same set on every system, and Windows-1252 for anything else (32769, the
// Windows code page of old files, and 367, ASCII, among them).
uint16_t windowsCodePage(uint16_t id)
{
    constexpr uint16_t kKnown[] = {437,  737,  775,  850,  852,  855,  857,  860,   861,   862,   863,   864,   865,
                                   866,  869,  874,  932,  936,  949,  950,  1250,  1251,  1252,  1253,  1254,  1255,
                                   1256, 1257, 1258, 1361, 10000, 10006, 10007, 10029, 10079, 10081, 20866, 21866};
    if (id == 32768)
        return 10000;  // the code page id of files saved on a Macintosh
    return std::find(std::begin(kKnown), std::end(kKnown), id) != std::end(kKnown) ? id : 1252;
}
}  // namespace

Codepage::Codepage() = default;
Codepage::~Codepage() = default;

void Codepage::set(uint16_t id)
{
    if (id == m_id)
        return;
    m_decoder.reset();
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
        // Unknown pages fall back to Windows-1252.
        m_decoder = platform::CodepageDecoder::open(windowsCodePage(m_id));
        if (!m_decoder)
            m_decoder = platform::CodepageDecoder::open(1252);
    }
    if (!m_decoder) {
        appendLatin1(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), out);
        return;
    }
    m_decoder->append(bytes, out);
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

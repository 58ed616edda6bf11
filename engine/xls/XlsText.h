#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>
#include <vector>

namespace tabulon::engine::platform {
class CodepageDecoder;
}

namespace tabulon::engine::xls {

// Thrown when a string runs past the end of its record; the reader turns it into
// engine::Error naming the file, or stops a table that is merely cut short.
struct Truncated {};

// Turns the 8-bit text of BIFF2 to BIFF5 files into UTF-8 through the workbook's code page.
class Codepage {
public:
    Codepage();
    ~Codepage();
    Codepage(const Codepage&) = delete;
    Codepage& operator=(const Codepage&) = delete;

    // A CODEPAGE record's value; unknown pages fall back to Windows-1252.
    void set(uint16_t id);
    void append(std::string_view bytes, std::string& out);

private:
    std::unique_ptr<platform::CodepageDecoder> m_decoder;  // opened on first non-ASCII text
    bool m_tried = false;
    uint16_t m_id = 1252;
};

// BIFF8 text: "compressed" strings hold the low bytes of UTF-16 (Latin-1), others UTF-16LE
// (appended through engine::appendUtf16).
void appendLatin1(const uint8_t* bytes, size_t count, std::string& out);

// Reads a record whose data continues in CONTINUE records. Inside a string's characters,
// every new segment starts with a repeated flag byte that says whether the rest is UTF-16.
class SegmentReader {
public:
    explicit SegmentReader(std::vector<std::string_view> segments) : m_segments(std::move(segments))
    {
        if (m_segments.empty())
            m_segments.emplace_back();
    }
    explicit SegmentReader(std::string_view single) : m_segments{single} {}

    bool atEnd();
    uint8_t u8();
    uint16_t u16();
    uint32_t u32();
    void skip(uint64_t n);

    // An XLUnicodeString body after its length: flags, optional run and phonetic sizes,
    // the characters, then the runs and phonetic block are skipped.
    void unicodeString(size_t cch, std::string& out);
    // A string of `cch` 8-bit characters in the code page.
    void byteString(size_t cch, Codepage& codepage, std::string& out);

private:
    bool nextSegment();
    void chars(size_t cch, bool wide, std::string& out);

    std::vector<std::string_view> m_segments;
    size_t m_segment = 0;
    size_t m_pos = 0;
    std::string m_scratch;
};

}  // namespace tabulon::engine::xls

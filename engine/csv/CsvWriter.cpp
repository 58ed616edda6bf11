#include "CsvWriter.h"

#include <array>
#include <cstring>

#include "../Error.h"

namespace tabulon::csv {
namespace {
constexpr size_t kFlushAt = 1 << 20;

constexpr auto kSpecial = [] {
    std::array<bool, 256> t{};
    t[','] = t['"'] = t['\r'] = t['\n'] = true;
    return t;
}();

// Whether any byte of the word equals c: a byte of w ^ c is zero exactly there.
inline bool hasByte(uint64_t w, unsigned char c)
{
    const uint64_t x = w ^ (0x0101010101010101ull * c);
    return ((x - 0x0101010101010101ull) & ~x & 0x8080808080808080ull) != 0;
}

// Every field is scanned once: eight bytes at a time, then the rest one by one.
bool needsQuotes(std::string_view text)
{
    const char* p = text.data();
    size_t n = text.size();
    for (; n >= 8; p += 8, n -= 8) {
        uint64_t w;
        std::memcpy(&w, p, sizeof w);
        if (hasByte(w, ',') || hasByte(w, '"') || hasByte(w, '\r') || hasByte(w, '\n'))
            return true;
    }
    for (; n > 0; ++p, --n)
        if (kSpecial[static_cast<unsigned char>(*p)])
            return true;
    return false;
}
}  // namespace

CsvWriter::CsvWriter(const std::filesystem::path& target, std::string displayName)
    : m_target(target), m_displayName(std::move(displayName)), m_file(target)
{
    m_buffer.reserve(kFlushAt + 4096);
}

CsvWriter::~CsvWriter() = default;

void CsvWriter::appendQuoted(std::string_view text, std::string& out)
{
    if (!needsQuotes(text)) {
        out.append(text);
        return;
    }
    out.push_back('"');
    for (;;) {
        const size_t quote = text.find('"');
        if (quote == std::string_view::npos)
            break;
        out.append(text.substr(0, quote + 1));
        out.push_back('"');
        text.remove_prefix(quote + 1);
    }
    out.append(text);
    out.push_back('"');
}

void CsvWriter::field(std::string_view text)
{
    if (!m_firstField)
        m_buffer.push_back(',');
    m_firstField = false;
    appendQuoted(text, m_buffer);
    if (m_buffer.size() >= kFlushAt)
        flush();
}

void CsvWriter::emptyFields(uint32_t count)
{
    if (count == 0)
        return;
    if (m_firstField) {
        m_firstField = false;
        --count;
    }
    m_buffer.append(count, ',');
    if (m_buffer.size() >= kFlushAt)
        flush();
}

void CsvWriter::endRecord()
{
    m_buffer.append("\r\n");
    m_firstField = true;
    if (m_buffer.size() >= kFlushAt)
        flush();
}

void CsvWriter::raw(std::string_view bytes)
{
    m_buffer.append(bytes);
    if (m_buffer.size() >= kFlushAt)
        flush();
}

void CsvWriter::restart()
{
    m_buffer.clear();
    m_firstField = true;
    m_file.truncate();
}

void CsvWriter::flush()
{
    m_file.write(m_buffer.data(), m_buffer.size());
    m_buffer.clear();
}

void CsvWriter::commit()
{
    flush();
    m_file.commit();
}

}  // namespace tabulon::csv

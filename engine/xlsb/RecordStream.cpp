#include "RecordStream.h"

#include <algorithm>

#include "../Error.h"
#include "../io/Utf.h"
#include "../io/Zip.h"

namespace tabulon::engine {
namespace {
constexpr size_t kChunk = 256 * 1024;
}  // namespace

RecordStream::RecordStream(const ZipArchive& zip, uint64_t part, std::string what)
    : m_zip(zip), m_stream(zip.stream(part)), m_file(zip.displayName()), m_what(std::move(what)), m_buffer(kChunk, '\0')
{
}

RecordStream::~RecordStream() = default;

void RecordStream::fail(const std::string& problem) const
{
    throw Error(describe(m_file, m_what + " " + problem));
}

bool RecordStream::refill()
{
    m_pos = 0;
    m_end = m_stream->read(m_buffer.data(), m_buffer.size());
    return m_end > 0;
}

int RecordStream::byte()
{
    if (m_pos == m_end && !refill())
        return -1;
    return static_cast<unsigned char>(m_buffer[m_pos++]);
}

void RecordStream::read(char* out, size_t n)
{
    while (n > 0) {
        if (m_pos == m_end && !refill())
            fail("ends in the middle of a record");
        const size_t take = std::min(n, m_end - m_pos);
        std::copy_n(m_buffer.data() + m_pos, take, out);
        m_pos += take;
        out += take;
        n -= take;
    }
}

void RecordStream::skip(size_t n)
{
    while (n > 0) {
        if (m_pos == m_end && !refill())
            fail("ends in the middle of a record");
        const size_t take = std::min(n, m_end - m_pos);
        m_pos += take;
        n -= take;
    }
}

bool RecordStream::next()
{
    int b = byte();
    if (b < 0)
        return false;
    uint32_t type = static_cast<uint32_t>(b & 0x7F);
    if (b & 0x80) {
        b = byte();
        if (b < 0)
            fail("ends in the middle of a record");
        if (b & 0x80)
            fail("is damaged (a record type is too long)");
        type |= static_cast<uint32_t>(b) << 7;
    }
    uint32_t size = 0;
    for (int i = 0;; ++i) {
        b = byte();
        if (b < 0)
            fail("ends in the middle of a record");
        size |= static_cast<uint32_t>(b & 0x7F) << (7 * i);
        if (!(b & 0x80))
            break;
        if (i == 3)
            fail("is damaged (a record size is too long)");
    }
    m_type = type;
    const size_t keep = std::min<size_t>(size, kMaxBody);
    m_body.resize(keep);
    read(m_body.data(), keep);
    skip(size - keep);
    return true;
}

void readWideString(ByteCursor& cursor, std::string& out)
{
    const uint32_t count = cursor.u32();
    appendUtf16(cursor.bytes(size_t(count) * 2), out);
}

std::string readWideString(ByteCursor& cursor)
{
    std::string out;
    readWideString(cursor, out);
    return out;
}

}  // namespace tabulon::engine

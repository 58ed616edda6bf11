#pragma once
#include <cstdint>
#include <cstring>
#include <string>
#include <string_view>

#include "../Error.h"

namespace tabulon::engine {

// Reads little-endian values from a byte range and throws engine::Error instead of reading
// past its end. Binary readers touch file data only through this. The cursor knows the file
// and what it reads there (the part, stream or record: "the sheet "Sales""), so running
// out is a whole sentence: Cannot read "<file>": <what> ends in the middle of a record.
// Both names are views: their strings must outlive the cursor.
class ByteCursor {
public:
    ByteCursor() = default;
    ByteCursor(const uint8_t* data, size_t size, std::string_view file, std::string_view what)
        : m_data(data), m_size(size), m_file(file), m_what(what) {}
    ByteCursor(std::string_view bytes, std::string_view file, std::string_view what)
        : ByteCursor(reinterpret_cast<const uint8_t*>(bytes.data()), bytes.size(), file, what) {}

    size_t size() const { return m_size; }
    size_t pos() const { return m_pos; }
    size_t remaining() const { return m_size - m_pos; }
    bool atEnd() const { return m_pos >= m_size; }
    const uint8_t* data() const { return m_data; }

    void seek(size_t pos)
    {
        if (pos > m_size)
            fail();
        m_pos = pos;
    }
    ByteCursor& seekAnd(size_t pos)
    {
        seek(pos);
        return *this;
    }
    void skip(size_t n)
    {
        need(n);
        m_pos += n;
    }
    uint8_t u8()
    {
        need(1);
        return m_data[m_pos++];
    }
    uint16_t u16()
    {
        need(2);
        const uint16_t v = static_cast<uint16_t>(m_data[m_pos] | (m_data[m_pos + 1] << 8));
        m_pos += 2;
        return v;
    }
    uint32_t u32()
    {
        need(4);
        uint32_t v;
        std::memcpy(&v, m_data + m_pos, 4);  // little-endian hosts only (x86, ARM)
        m_pos += 4;
        return v;
    }
    int32_t i32() { return static_cast<int32_t>(u32()); }
    // Values at a fixed offset, for structures read by position; the cursor does not move.
    uint16_t u16At(size_t pos) const { return ByteCursor(*this).seekAnd(pos).u16(); }
    uint32_t u32At(size_t pos) const { return ByteCursor(*this).seekAnd(pos).u32(); }
    uint64_t u64()
    {
        need(8);
        uint64_t v;
        std::memcpy(&v, m_data + m_pos, 8);
        m_pos += 8;
        return v;
    }
    double f64()
    {
        const uint64_t bits = u64();
        double v;
        std::memcpy(&v, &bits, 8);
        return v;
    }
    std::string_view bytes(size_t n)
    {
        need(n);
        std::string_view v(reinterpret_cast<const char*>(m_data + m_pos), n);
        m_pos += n;
        return v;
    }
    ByteCursor sub(size_t n)
    {
        need(n);
        ByteCursor c(m_data + m_pos, n, m_file, m_what);
        m_pos += n;
        return c;
    }

private:
    void need(size_t n) const
    {
        if (n > m_size - m_pos)
            fail();
    }
    [[noreturn]] void fail() const
    {
        throw Error(describe(std::string(m_file), std::string(m_what) + " ends in the middle of a record"));
    }

    const uint8_t* m_data = nullptr;
    size_t m_size = 0;
    size_t m_pos = 0;
    std::string_view m_file;
    std::string_view m_what;
};

}  // namespace tabulon::engine

#pragma once
#include <cstdint>
#include <memory>
#include <string>

#include "../io/ByteCursor.h"

namespace tabulon::engine {

class ZipArchive;
class ZipStream;

// Reads the records of one binary part in order, inflating it as it goes. A record header is a
// type (1 or 2 bytes) and a size (1 to 4 bytes), both 7 bits per byte with the top bit saying
// "more follows". Errors name the file and `what` ("the sheet "Sales"").
class RecordStream {
public:
    RecordStream(const ZipArchive& zip, uint64_t part, std::string what);
    ~RecordStream();

    // Moves to the next record; false at the end of the part.
    bool next();
    uint32_t type() const { return m_type; }
    // The record's body. Bodies longer than any record this program reads are cut short: the
    // readers only look at their first fields.
    ByteCursor body() const { return ByteCursor(m_body, m_file, m_what); }
    const std::string& what() const { return m_what; }
    [[noreturn]] void fail(const std::string& problem) const;

    static constexpr size_t kMaxBody = size_t(1) << 20;

private:
    int byte();  // -1 at the end of the part
    void read(char* out, size_t n);
    void skip(size_t n);
    bool refill();

    const ZipArchive& m_zip;
    std::unique_ptr<ZipStream> m_stream;
    std::string m_file;
    std::string m_what;
    std::string m_buffer;
    size_t m_pos = 0, m_end = 0;
    uint32_t m_type = 0;
    std::string m_body;
};

// Reads an XLWideString (a 32-bit count of UTF-16 code units, then the units) and appends
// it to `out` as UTF-8 (by engine::appendUtf16).
void readWideString(ByteCursor& cursor, std::string& out);
std::string readWideString(ByteCursor& cursor);

}  // namespace tabulon::engine

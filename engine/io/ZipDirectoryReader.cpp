// Reads a zip package's central directory and the packed bytes of its members. Written here
// because Debian ships no libzip for MinGW: Windows builds use it, Linux builds use libzip,
// and the tests compare the two (fuzz target: tests/fuzz/zip_directory_fuzz.cpp).
#include "ZipDirectoryReader.h"

#include <algorithm>
#include <cstring>

#include "../Error.h"

namespace tabulon::engine {
namespace {

constexpr uint32_t kEndSignature = 0x06054b50;
constexpr uint32_t kZip64EndSignature = 0x06064b50;
constexpr uint32_t kZip64LocatorSignature = 0x07064b50;
constexpr uint32_t kEntrySignature = 0x02014b50;
constexpr uint32_t kLocalSignature = 0x04034b50;
constexpr size_t kEndSize = 22;
constexpr size_t kEntrySize = 46;
constexpr size_t kLocalSize = 30;

uint16_t le16(const uint8_t* p) { return static_cast<uint16_t>(p[0] | (p[1] << 8)); }
uint32_t le32(const uint8_t* p) { return le16(p) | (uint32_t(le16(p + 2)) << 16); }
uint64_t le64(const uint8_t* p) { return le32(p) | (uint64_t(le32(p + 4)) << 32); }

[[noreturn]] void damaged()
{
    throw ZipDirectoryError("the file is damaged (its zip directory cannot be read)");
}

// Names are UTF-8 when flagged or when they read as UTF-8; otherwise each byte is taken
// as a Latin-1 character (they only appear in messages).
std::string entryName(std::string_view raw, bool utf8)
{
    auto validUtf8 = [&] {
        for (size_t i = 0; i < raw.size();) {
            const auto c = static_cast<uint8_t>(raw[i]);
            const size_t length = c < 0x80 ? 1 : (c >> 5) == 6 ? 2 : (c >> 4) == 14 ? 3 : (c >> 3) == 30 ? 4 : 0;
            if (length == 0 || i + length > raw.size())
                return false;
            for (size_t k = 1; k < length; ++k)
                if ((static_cast<uint8_t>(raw[i + k]) & 0xC0) != 0x80)
                    return false;
            i += length;
        }
        return true;
    };
    if (utf8 || validUtf8())
        return std::string(raw);
    std::string out;
    for (char ch : raw) {
        const auto c = static_cast<uint8_t>(ch);
        if (c < 0x80) {
            out += ch;
        } else {
            out += static_cast<char>(0xC0 | (c >> 6));
            out += static_cast<char>(0x80 | (c & 0x3F));
        }
    }
    return out;
}

class MemberReader final : public ZipMemberReader {
public:
    MemberReader(std::shared_ptr<const FileBytes> bytes, uint64_t offset, uint64_t size)
        : m_bytes(std::move(bytes)), m_offset(offset), m_left(size)
    {
    }

    size_t read(char* buffer, size_t size) override
    {
        const size_t want = static_cast<size_t>(std::min<uint64_t>(size, m_left));
        if (want == 0)
            return 0;
        const size_t got = m_bytes->read(m_offset, buffer, want);
        if (got == 0)
            throw ZipDirectoryError("a part is cut short");
        m_offset += got;
        m_left -= got;
        return got;
    }

private:
    std::shared_ptr<const FileBytes> m_bytes;
    uint64_t m_offset;
    uint64_t m_left;
};

class ReadDirectory final : public ZipDirectory {
public:
    explicit ReadDirectory(std::shared_ptr<const FileBytes> bytes) : m_bytes(std::move(bytes)) { readDirectory(); }

    std::unique_ptr<ZipMemberReader> open(uint64_t index, bool raw) override
    {
        if (index >= m_entries.size())
            throw ZipDirectoryError("a part cannot be unpacked (no such part)");
        const ZipEntry& entry = m_entries[index];
        if (!raw && entry.method != 0)
            throw ZipDirectoryError("a part cannot be unpacked (its compression method " + std::to_string(entry.method) +
                                    " is not supported)");
        uint8_t local[kLocalSize];
        const uint64_t at = m_localOffsets[index];
        if (at > m_bytes->size() || m_bytes->read(at, local, kLocalSize) != kLocalSize || le32(local) != kLocalSignature)
            throw ZipDirectoryError("a part is damaged (its local header is missing)");
        const uint64_t start = at + kLocalSize + le16(local + 26) + le16(local + 28);
        if (start > m_bytes->size() || entry.packedSize > m_bytes->size() - start)
            throw ZipDirectoryError("a part is cut short");
        return std::make_unique<MemberReader>(m_bytes, start, entry.packedSize);
    }

private:
    std::string bytesAt(uint64_t offset, size_t size) const
    {
        std::string out(size, '\0');
        if (offset > m_bytes->size() || m_bytes->read(offset, out.data(), size) != size)
            damaged();
        return out;
    }

    void readDirectory()
    {
        const uint64_t fileSize = m_bytes->size();
        if (fileSize < kEndSize)
            damaged();
        // The end record sits in the last 64 KiB + 22 bytes, before a comment of any length.
        const uint64_t tailStart = fileSize - std::min<uint64_t>(fileSize, kEndSize + 0xFFFF);
        const std::string tail = bytesAt(tailStart, static_cast<size_t>(fileSize - tailStart));
        const auto* t = reinterpret_cast<const uint8_t*>(tail.data());
        std::optional<size_t> end;
        for (size_t i = tail.size() - kEndSize + 1; i-- > 0;) {
            if (le32(t + i) == kEndSignature && i + kEndSize + le16(t + i + 20) <= tail.size()) {
                end = i;
                break;
            }
        }
        if (!end)
            damaged();
        const uint8_t* e = t + *end;
        const uint64_t endOffset = tailStart + *end;
        if (le16(e + 4) != 0 || (le16(e + 6) != 0 && le16(e + 6) != 0xFFFF))
            throw ZipDirectoryError("the zip package cannot be opened (it is split over several files)");
        uint64_t count = le16(e + 10);
        uint64_t dirSize = le32(e + 12);
        uint64_t dirOffset = le32(e + 16);
        uint64_t dirLimit = endOffset;
        if ((count == 0xFFFF || dirSize == 0xFFFFFFFF || dirOffset == 0xFFFFFFFF) && endOffset >= 20) {
            const std::string locator = bytesAt(endOffset - 20, 20);
            const auto* l = reinterpret_cast<const uint8_t*>(locator.data());
            if (le32(l) == kZip64LocatorSignature) {
                const uint64_t at = le64(l + 8);
                const std::string record = bytesAt(at, 56);
                const auto* r = reinterpret_cast<const uint8_t*>(record.data());
                if (le32(r) != kZip64EndSignature || at > endOffset - 20)
                    damaged();
                count = le64(r + 32);
                dirSize = le64(r + 40);
                dirOffset = le64(r + 48);
                dirLimit = at;
            }
        }
        if (dirOffset > dirLimit || dirSize > dirLimit - dirOffset || count > dirSize / kEntrySize)
            damaged();
        const std::string directory = bytesAt(dirOffset, static_cast<size_t>(dirSize));
        const auto* d = reinterpret_cast<const uint8_t*>(directory.data());
        size_t pos = 0;
        m_entries.reserve(static_cast<size_t>(count));
        m_localOffsets.reserve(static_cast<size_t>(count));
        for (uint64_t i = 0; i < count; ++i) {
            if (directory.size() - pos < kEntrySize || le32(d + pos) != kEntrySignature)
                damaged();
            const uint8_t* h = d + pos;
            const size_t nameLength = le16(h + 28), extraLength = le16(h + 30), commentLength = le16(h + 32);
            if (directory.size() - pos - kEntrySize < nameLength + extraLength + commentLength)
                damaged();
            const uint16_t flags = le16(h + 8);
            ZipEntry entry;
            entry.name = entryName(std::string_view(directory).substr(pos + kEntrySize, nameLength), flags & 0x800);
            entry.method = le16(h + 10);
            entry.encrypted = flags & 1;
            entry.crc = le32(h + 16);
            entry.packedSize = le32(h + 20);
            uint64_t size = le32(h + 24);
            uint64_t localOffset = le32(h + 42);
            readZip64Extra(h + kEntrySize + nameLength, extraLength, size, entry.packedSize, localOffset);
            entry.size = size;
            m_entries.push_back(std::move(entry));
            m_localOffsets.push_back(localOffset);
            pos += kEntrySize + nameLength + extraLength + commentLength;
        }
    }

    // Sizes and offsets too large for the entry's own fields are in its zip64 extra field,
    // in this order, each only when its field says 0xFFFFFFFF.
    static void readZip64Extra(const uint8_t* extra, size_t length, uint64_t& size, uint64_t& packed, uint64_t& offset)
    {
        for (size_t pos = 0; pos + 4 <= length;) {
            const uint16_t id = le16(extra + pos);
            const size_t dataLength = le16(extra + pos + 2);
            if (pos + 4 + dataLength > length)
                damaged();
            if (id == 1) {
                const uint8_t* p = extra + pos + 4;
                size_t left = dataLength;
                for (uint64_t* field : {&size, &packed, &offset}) {
                    if (*field != 0xFFFFFFFF)
                        continue;
                    if (left < 8)
                        damaged();
                    *field = le64(p);
                    p += 8;
                    left -= 8;
                }
                return;
            }
            pos += 4 + dataLength;
        }
    }

    std::shared_ptr<const FileBytes> m_bytes;
    std::vector<uint64_t> m_localOffsets;
};

}  // namespace

std::unique_ptr<ZipDirectory> readZipDirectory(std::shared_ptr<const FileBytes> bytes)
{
    try {
        return std::make_unique<ReadDirectory>(std::move(bytes));
    } catch (const Error&) {
        throw ZipDirectoryError("the zip package cannot be opened (the file cannot be read)");
    }
}

#if !defined(TABULON_HAVE_LIBZIP)
std::unique_ptr<ZipDirectory> ZipDirectory::openFile(const std::filesystem::path& file)
{
    std::shared_ptr<const FileBytes> bytes;
    try {
        bytes = FileBytes::open(file, file.string());
    } catch (const Error&) {
        throw ZipDirectoryError("the zip package cannot be opened (the file cannot be opened)");
    }
    return readZipDirectory(std::move(bytes));
}

std::unique_ptr<ZipDirectory> ZipDirectory::openMemory(const void* data, size_t size)
{
    return readZipDirectory(FileBytes::borrow(data, size));
}
#endif

}  // namespace tabulon::engine

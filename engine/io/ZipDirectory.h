#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <stdexcept>
#include <string>
#include <vector>

namespace tabulon::engine {

// The directory of a zip package and the raw bytes of its members: what ZipArchive needs
// from a zip library. Linux builds use libzip; where libzip is missing (MinGW builds for
// Windows) the package's central directory is read by ZipDirectoryReader.cpp.
struct ZipEntry {
    std::optional<std::string> name;  // UTF-8; missing when the directory's name is unusable
    uint16_t method = 0;              // 0 stored, 8 deflated, others passed to the library
    bool encrypted = false;
    uint64_t packedSize = 0;
    std::optional<uint64_t> size;
    std::optional<uint32_t> crc;
};

// Thrown by the directory with what is wrong, as a phrase for ZipArchive's message.
struct ZipDirectoryError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

class ZipMemberReader {
public:
    virtual ~ZipMemberReader() = default;
    // Reads up to `size` bytes; 0 at the end. Throws ZipDirectoryError.
    virtual size_t read(char* buffer, size_t size) = 0;
};

// Not thread-safe: ZipArchive takes turns with its own lock.
class ZipDirectory {
public:
    static std::unique_ptr<ZipDirectory> openFile(const std::filesystem::path& file);
    // The bytes must outlive the directory.
    static std::unique_ptr<ZipDirectory> openMemory(const void* data, size_t size);
    virtual ~ZipDirectory() = default;

    const std::vector<ZipEntry>& entries() const { return m_entries; }
    // With `raw`, the packed bytes of a stored or deflated member; otherwise the member
    // unpacked by the library (which may refuse methods it does not know).
    virtual std::unique_ptr<ZipMemberReader> open(uint64_t index, bool raw) = 0;

protected:
    std::vector<ZipEntry> m_entries;
};

}  // namespace tabulon::engine

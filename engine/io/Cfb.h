#pragma once
#include <cstdint>
#include <filesystem>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tabulon::engine::platform {
class InputFile;
}

namespace tabulon::engine {

// The bytes of a file, read through a window of a few hundred kilobytes, so that memory
// stays flat however large the workbook is. Or bytes already in memory.
class FileBytes {
public:
    static std::shared_ptr<const FileBytes> open(const std::filesystem::path& file, const std::string& displayName);
    // For tests and fuzz targets; the bytes must outlive every user of the object.
    static std::shared_ptr<const FileBytes> borrow(const void* data, size_t size);
    static std::shared_ptr<const FileBytes> own(std::string bytes);
    ~FileBytes();
    FileBytes(const FileBytes&) = delete;
    FileBytes& operator=(const FileBytes&) = delete;

    uint64_t size() const { return m_size; }
    // Copies `n` bytes at `offset`; returns how many were there (fewer only at the end).
    // Throws engine::Error when the file cannot be read.
    size_t read(uint64_t offset, void* out, size_t n) const;

private:
    FileBytes() = default;
    const uint8_t* m_data = nullptr;  // bytes in memory, or null for a file read by window
    uint64_t m_size = 0;
    std::unique_ptr<platform::InputFile> m_file;
    std::string m_displayName;
    std::string m_owned;
    mutable std::vector<uint8_t> m_window;
    mutable uint64_t m_windowStart = 0;
    mutable size_t m_windowLength = 0;
};

// One stream of a compound file (or a whole file), read at any offset. The sectors of the
// stream are kept as runs of adjacent bytes, so a file written in order is one run.
class ByteStream {
public:
    ByteStream() = default;
    // The whole of a file as one stream.
    static ByteStream whole(std::shared_ptr<const FileBytes> file);

    uint64_t size() const { return m_size; }
    // Copies `n` bytes at `offset`; returns how many were there (fewer only at the end).
    size_t read(uint64_t offset, void* out, size_t n) const;

private:
    friend class CompoundFile;
    struct Run {
        uint64_t offset;  // in the stream
        uint64_t fileOffset;
        uint64_t length;
    };
    void append(uint64_t fileOffset, uint64_t length);

    std::shared_ptr<const FileBytes> m_file;
    std::vector<Run> m_runs;
    uint64_t m_size = 0;
    mutable size_t m_lastRun = 0;
};

// A read-only compound file (the container of .xls workbooks). Every sector chain is bounded
// by the file's size and checked for loops; a damaged file raises engine::Error naming it.
class CompoundFile {
public:
    CompoundFile(std::shared_ptr<const FileBytes> file, std::string displayName);

    static bool hasSignature(const FileBytes& file);

    struct Entry {
        std::string name;  // UTF-8
        uint8_t type = 0;  // 1 storage, 2 stream, 5 root
        uint32_t start = 0;
        uint64_t size = 0;
        uint32_t left = 0, right = 0, child = 0;
    };

    // A stream among the root storage's children, its name compared without regard to case.
    std::optional<ByteStream> stream(std::string_view name) const;
    bool hasStream(std::string_view name) const { return findEntry(name).has_value(); }
    // The names of the root storage's children (for messages and tests).
    std::vector<std::string> rootNames() const;

private:
    [[noreturn]] void fail(const std::string& what) const;
    std::optional<size_t> findEntry(std::string_view name) const;
    std::vector<size_t> rootChildren() const;
    // The sector numbers of a chain in `table`, stopping once `maxSectors` are collected.
    std::vector<uint32_t> chain(const std::vector<uint32_t>& table, uint32_t start, uint64_t maxSectors) const;
    // Reads a sector; returns its length (less than a sector only at the file's end, 0 past it).
    size_t sector(uint32_t index, std::vector<uint8_t>& out) const;
    ByteStream regularStream(uint32_t start, uint64_t size) const;

    std::shared_ptr<const FileBytes> m_file;
    std::string m_displayName;
    uint32_t m_sectorShift = 9;
    uint32_t m_miniCutoff = 4096;
    uint32_t m_firstMiniFat = 0;
    uint32_t m_miniFatSectors = 0;
    std::vector<uint32_t> m_fat;
    mutable std::vector<uint32_t> m_miniFat;  // loaded with the mini stream, on first use
    std::vector<Entry> m_entries;
    mutable std::optional<ByteStream> m_miniStream;
};

}  // namespace tabulon::engine

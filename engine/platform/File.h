#pragma once
#include <cstddef>
#include <cstdint>
#include <filesystem>
#include <memory>
#include <stdexcept>
#include <string>

namespace tabulon::engine::platform {

// What the system said when a file operation failed.
struct SystemError : std::runtime_error {
    using std::runtime_error::runtime_error;
};

// A file opened for reading at any offset (POSIX descriptors, or Windows handles opened
// by their UTF-16 names).
class InputFile {
public:
    // Throws SystemError when the file cannot be opened.
    static std::unique_ptr<InputFile> open(const std::filesystem::path& file);
    virtual ~InputFile() = default;
    virtual uint64_t size() const = 0;
    // Reads up to `size` bytes at `offset`; returns 0 at the end. Throws SystemError.
    virtual size_t readAt(uint64_t offset, void* out, size_t size) const = 0;
};


}  // namespace tabulon::engine::platform

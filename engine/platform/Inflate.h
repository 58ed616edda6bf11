#pragma once
#include <cstddef>
#include <cstdint>
#include <memory>

namespace tabulon::engine::platform {

// Raw deflate decoding for the zip layer (ISA-L on Linux, two to three times faster than zlib
// on XML; zlib on Windows, where Debian has no ISA-L), with the CRC-32 of the output kept.
class RawInflater {
public:
    enum class Status { Ok, End, Invalid };
    static std::unique_ptr<RawInflater> create();
    virtual ~RawInflater() = default;

    // The next packed bytes; they must stay until pendingInput() is 0.
    virtual void setInput(const char* data, size_t size) = 0;
    virtual size_t pendingInput() const = 0;
    // Inflates into `out`, setting `written`; End once the stream's last block is done.
    virtual Status inflate(char* out, size_t size, size_t& written) = 0;
    // The CRC-32 of everything written so far.
    virtual uint32_t crc() const = 0;
};

// Continues a CRC-32 (start with 0).
uint32_t crc32(uint32_t crc, const char* data, size_t size);

}  // namespace tabulon::engine::platform

#pragma once
#include <cstdint>
#include <memory>
#include <string>
#include <string_view>

namespace tabulon::engine::platform {

// Decodes 8-bit and double-byte text in a Windows code page to UTF-8 with the system's own
// converter (iconv on POSIX systems, MultiByteToWideChar on Windows). A byte the code page
// does not define, or a double-byte character cut short, becomes U+FFFD and decoding goes
// on with the next byte.
class CodepageDecoder {
public:
    // Null when the system has no converter for the Windows code page `codePage`.
    static std::unique_ptr<CodepageDecoder> open(uint16_t codePage);
    virtual ~CodepageDecoder() = default;
    virtual void append(std::string_view bytes, std::string& out) = 0;
};

}  // namespace tabulon::engine::platform

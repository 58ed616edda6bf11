#include "Codepage.h"

#include <windows.h>

#include "../io/Utf.h"

namespace tabulon::engine::platform {
namespace {

class WindowsDecoder final : public CodepageDecoder {
public:
    explicit WindowsDecoder(UINT codePage) : m_codePage(codePage) {}

    void append(std::string_view bytes, std::string& out) override
    {
        // Whole text first; only text with an undefined byte goes character by character.
        if (convert(bytes.data(), bytes.size(), out))
            return;
        size_t i = 0;
        while (i < bytes.size()) {
            const bool lead = IsDBCSLeadByteEx(m_codePage, static_cast<BYTE>(bytes[i])) && i + 1 < bytes.size();
            const size_t length = lead ? 2 : 1;
            if (convert(bytes.data() + i, length, out)) {
                i += length;
            } else {
                appendCodePoint(kReplacementCharacter, out);
                ++i;
            }
        }
    }

private:
    bool convert(const char* data, size_t size, std::string& out)
    {
        if (size > 0x7FFFFFFF)
            return false;
        const int n = static_cast<int>(size);
        m_wide.resize(size);
        const int units = MultiByteToWideChar(m_codePage, MB_ERR_INVALID_CHARS, data, n, m_wide.data(), n);
        if (units <= 0)
            return false;
        for (int k = 0; k < units; ++k) {
            uint32_t c = static_cast<uint16_t>(m_wide[k]);
            if (c >= 0xD800 && c < 0xDC00 && k + 1 < units) {
                c = 0x10000 + ((c - 0xD800) << 10) + (static_cast<uint16_t>(m_wide[k + 1]) - 0xDC00);
                ++k;
            }
            if (c == 0)
                out.push_back('\0');  // as iconv gives it
            else
                appendCodePoint(c, out);
        }
        return true;
    }

    UINT m_codePage;
    std::wstring m_wide;
};

}  // namespace

std::unique_ptr<CodepageDecoder> CodepageDecoder::open(uint16_t codePage)
{
    if (!IsValidCodePage(codePage))
        return nullptr;
    return std::make_unique<WindowsDecoder>(codePage);
}

}  // namespace tabulon::engine::platform

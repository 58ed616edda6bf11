#include "Codepage.h"

#include <iconv.h>

#include <cerrno>

#include "../io/Utf.h"

namespace tabulon::engine::platform {
namespace {

const char* iconvName(uint16_t codePage)
{
    switch (codePage) {
    case 437: return "CP437";
    case 737: return "CP737";
    case 775: return "CP775";
    case 850: return "CP850";
    case 852: return "CP852";
    case 855: return "CP855";
    case 857: return "CP857";
    case 860: return "CP860";
    case 861: return "CP861";
    case 862: return "CP862";
    case 863: return "CP863";
    case 864: return "CP864";
    case 865: return "CP865";
    case 866: return "CP866";
    case 869: return "CP869";
    case 874: return "CP874";
    case 932: return "CP932";
    case 936: return "CP936";
    case 949: return "CP949";
    case 950: return "CP950";
    case 1250: return "CP1250";
    case 1251: return "CP1251";
    case 1252: return "CP1252";
    case 1253: return "CP1253";
    case 1254: return "CP1254";
    case 1255: return "CP1255";
    case 1256: return "CP1256";
    case 1257: return "CP1257";
    case 1258: return "CP1258";
    case 1361: return "JOHAB";
    case 10000: return "MACINTOSH";
    case 10006: return "MAC-GREEK";
    case 10007: return "MAC-CYRILLIC";
    case 10029: return "MAC-CENTRALEUROPE";
    case 10079: return "MAC-IS";
    case 10081: return "MAC-TURKISH";
    case 20866: return "KOI8-R";
    case 21866: return "KOI8-U";
    default: return nullptr;
    }
}

class IconvDecoder final : public CodepageDecoder {
public:
    explicit IconvDecoder(iconv_t cd) : m_cd(cd) {}
    ~IconvDecoder() override { iconv_close(m_cd); }

    void append(std::string_view bytes, std::string& out) override
    {
        iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
        char* in = const_cast<char*>(bytes.data());
        size_t inLeft = bytes.size();
        char buffer[1024];
        while (inLeft > 0) {
            char* dst = buffer;
            size_t dstLeft = sizeof buffer;
            const size_t rc = iconv(m_cd, &in, &inLeft, &dst, &dstLeft);
            out.append(buffer, static_cast<size_t>(dst - buffer));
            if (rc == static_cast<size_t>(-1) && errno != E2BIG) {
                appendCodePoint(kReplacementCharacter, out);
                ++in;
                --inLeft;
                iconv(m_cd, nullptr, nullptr, nullptr, nullptr);
            }
        }
    }

private:
    iconv_t m_cd;
};

}  // namespace

std::unique_ptr<CodepageDecoder> CodepageDecoder::open(uint16_t codePage)
{
    const char* name = iconvName(codePage);
    if (!name)
        return nullptr;
    const iconv_t cd = iconv_open("UTF-8", name);
    if (cd == reinterpret_cast<iconv_t>(-1))
        return nullptr;
    return std::make_unique<IconvDecoder>(cd);
}

}  // namespace tabulon::engine::platform

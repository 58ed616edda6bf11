// libFuzzer target for the XML scanner: the same tokens whether the document is held whole
// or arrives in small pieces, and engine::Error for anything it cannot scan.
#include <algorithm>
#include <cstdint>
#include <cstdlib>
#include <cstring>
#include <string>

#include "engine/Error.h"
#include "engine/io/XmlScanner.h"

using namespace tabulon::engine;

namespace {
class Pieces final : public ByteSource {
public:
    Pieces(const char* data, size_t size, size_t step) : m_data(data), m_size(size), m_step(step) {}
    size_t read(char* buffer, size_t capacity) override
    {
        const size_t n = std::min({capacity, m_step, m_size - m_pos});
        std::memcpy(buffer, m_data + m_pos, n);
        m_pos += n;
        return n;
    }

private:
    const char* m_data;
    size_t m_size, m_step, m_pos = 0;
};

std::string tokens(XmlScanner& x, bool& ok)
{
    std::string out;
    try {
        for (XmlScanner::Token t; (t = x.next()) != XmlScanner::Token::End;) {
            out += static_cast<char>('0' + static_cast<int>(t));
            if (t == XmlScanner::Token::Text)
                x.appendText(out);
            else
                out += x.name();
            for (const auto& a : x.attributes())
                if (t == XmlScanner::Token::StartTag)
                    out.append(a.name).append(a.value);
        }
        ok = true;
    } catch (const Error&) {
        ok = false;
    }
    return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size)
{
    const char* text = reinterpret_cast<const char*>(data);
    bool wholeOk, piecesOk;
    XmlScanner whole(std::string_view(text, size), "fuzz.xlsx", "part.xml");
    const std::string a = tokens(whole, wholeOk);
    Pieces source(text, size, 1 + (size % 13));
    XmlScanner pieces(source, "fuzz.xlsx", "part.xml");
    const std::string b = tokens(pieces, piecesOk);
    if (wholeOk != piecesOk || (wholeOk && a != b))
        std::abort();
    return 0;
}

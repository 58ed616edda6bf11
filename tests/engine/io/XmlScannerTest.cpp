#include <gtest/gtest.h>

#include <algorithm>

#include "engine/Error.h"
#include "engine/io/XmlScanner.h"

using namespace tabulon::engine;

namespace {

// Hands out at most `step` bytes per read, so tokens straddle every possible boundary.
class Trickle final : public ByteSource {
public:
    Trickle(std::string_view text, size_t step) : m_text(text), m_step(step) {}
    size_t read(char* buffer, size_t capacity) override
    {
        const size_t n = std::min({capacity, m_step, m_text.size() - m_pos});
        std::copy_n(m_text.data() + m_pos, n, buffer);
        m_pos += n;
        return n;
    }

private:
    std::string_view m_text;
    size_t m_step;
    size_t m_pos = 0;
};

// The tokens as one line: <name a=v> </name> "text"
std::string tokens(XmlScanner& x)
{
    std::string out;
    for (XmlScanner::Token t; (t = x.next()) != XmlScanner::Token::End;) {
        if (t == XmlScanner::Token::StartTag) {
            out += "<" + std::string(x.name());
            for (const auto& a : x.attributes())
                out += " " + std::string(a.name) + "=" + std::string(a.value);
            out += ">";
        } else if (t == XmlScanner::Token::EndTag) {
            out += "</" + std::string(x.name()) + ">";
        } else {
            out += "\"";
            x.appendText(out);
            out += "\"";
        }
    }
    return out;
}

std::string scan(std::string_view xml)
{
    XmlScanner x(xml, "book.xlsx", "part.xml");
    return tokens(x);
}

}  // namespace

TEST(XmlScanner, TokensInMemoryAndInPieces)
{
    const struct {
        std::string_view xml, expected;
    } cases[] = {
        {"<?xml version=\"1.0\"?>\n<a x=\"1\" y='2'><b/>t</a>", "<a x=1 y=2><b></b>\"t\"</a>"},
        {"\xEF\xBB\xBF<x:row r=\"3\"><x:c r=\"A3\"/></x:row>", "<row r=3><c r=A3></c></row>"},
        {"<a><!-- <b> --><![CDATA[<&>]]>&lt;&#65;&#x42;&amp;&unknown;</a>", "<a>\"<&>\"\"<AB&&unknown;\"</a>"},
        {"<a  t = \"x>y\"  >\r\n</a >", "<a t=x>y>\"\n\"</a>"},
        // Line ends read as XML reads them: CR LF and a lone CR are LF; &#13; is a real CR.
        {"<a>x\r\ny\rz&amp;\r\n&#13;<![CDATA[\r\n]]></a>", "<a>\"x\ny\nz&\n\r\"\"\n\"</a>"},
        {"<a>&#0;&#xD800;&#x1F600;</a>", "<a>\"\xEF\xBF\xBD\xEF\xBF\xBD\xF0\x9F\x98\x80\"</a>"},
    };
    for (const auto& c : cases) {
        EXPECT_EQ(scan(c.xml), c.expected) << c.xml;
        for (size_t step : {1, 2, 7}) {
            Trickle source(c.xml, step);
            XmlScanner x(source, "book.xlsx", "part.xml");
            EXPECT_EQ(tokens(x), c.expected) << c.xml << " in pieces of " << step;
        }
    }
}

TEST(XmlScanner, RefusesWhatItCannotTrust)
{
    const std::string_view damaged[] = {
        "<!DOCTYPE a [<!ENTITY e \"x\">]><a>&e;</a>",
        "<a><b></b>",        // cut short
        "<a x=1></a>",       // unquoted value
        "<a x=\"1></a>",     // unclosed quote
        "</a>",              // end without start
        "<a><</a>",          // nameless tag
        "<a><!-- open",      // unclosed comment
        "<a><![CDATA[open",  // unclosed CDATA
    };
    for (auto xml : damaged) {
        try {
            scan(xml);
            ADD_FAILURE() << "accepted " << xml;
        } catch (const Error& e) {
            EXPECT_NE(std::string(e.what()).find("Cannot read \"book.xlsx\": the part part.xml is damaged"), std::string::npos)
                << e.what();
        }
    }
}

TEST(XmlScanner, LongTokensGrowTheBufferAndAreCapped)
{
    const std::string text(600 * 1024, 'x');
    const std::string xml = "<a v=\"" + text + "\">" + text + "</a>";
    Trickle source(xml, 100000);
    XmlScanner x(source, "book.xlsx", "part.xml");
    ASSERT_EQ(x.next(), XmlScanner::Token::StartTag);
    EXPECT_EQ(x.attribute("v")->size(), text.size());
    ASSERT_EQ(x.next(), XmlScanner::Token::Text);
    EXPECT_EQ(x.text().size(), text.size());

    const std::string huge = "<a>" + std::string(XmlScanner::kMaxToken + 10, 'x') + "</a>";
    Trickle big(huge, 1 << 20);
    XmlScanner y(big, "book.xlsx", "part.xml");
    y.next();
    EXPECT_THROW(y.next(), Error);
}

TEST(XmlScanner, Utf16Parts)
{
    std::string storage;
    const std::string be("\xFE\xFF\0<\0a\0>\0\xE9\xD8\x3D\xDE\x00\0<\0/\0a\0>", 22);
    EXPECT_EQ(utf8Document(be, storage), "<a>\xC3\xA9\xF0\x9F\x98\x80</a>");
    const std::string le("<\0a\0/\0>\0", 8);
    EXPECT_EQ(utf8Document(le, storage), "<a/>");
    EXPECT_EQ(utf8Document("\xEF\xBB\xBF<a/>", storage), "<a/>");
}

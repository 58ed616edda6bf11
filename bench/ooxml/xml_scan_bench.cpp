// Times scanning worksheet XML with expat and with XmlScanner, doing the same small work per
// element (count elements, look at the attributes, keep the text of <v>). The result is
// quoted where XmlScanner begins.   xml_scan_bench [SHEET.xml]   (default: 100,000 rows made here)
#include <expat.h>

#include <algorithm>
#include <ctime>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <sstream>
#include <string>

#include "engine/io/XmlScanner.h"

using namespace tabulon::engine;

namespace {
struct Tally {
    size_t elements = 0, attributes = 0, textBytes = 0;
};

std::string makeSheet(int rows)
{
    std::string xml = "<worksheet><sheetData>";
    for (int r = 1; r <= rows; ++r) {
        const std::string n = std::to_string(r);
        xml += "<row r=\"" + n + "\" spans=\"1:4\"><c r=\"A" + n + "\"><v>" + n + "</v></c><c r=\"B" + n +
               "\" s=\"1\"><v>-330917.51234567891</v></c><c r=\"C" + n + "\" t=\"s\"><v>" + std::to_string(r % 977) +
               "</v></c><c r=\"D" + n + "\"><f>A" + n + "*2</f><v>" + std::to_string(2 * r) + "</v></c></row>";
    }
    return xml + "</sheetData></worksheet>";
}

void XMLCALL onStart(void* data, const XML_Char*, const XML_Char** atts)
{
    auto* t = static_cast<Tally*>(data);
    ++t->elements;
    for (size_t i = 0; atts[i]; i += 2)
        t->attributes += atts[i + 1][0] != 0;
}
void XMLCALL onEnd(void*, const XML_Char*) {}
void XMLCALL onText(void* data, const XML_Char*, int len) { static_cast<Tally*>(data)->textBytes += static_cast<size_t>(len); }

Tally withExpat(const std::string& xml)
{
    Tally t;
    XML_Parser p = XML_ParserCreate(nullptr);
    XML_SetUserData(p, &t);
    XML_SetElementHandler(p, onStart, onEnd);
    XML_SetCharacterDataHandler(p, onText);
    const size_t chunk = 256 << 10;
    for (size_t at = 0; at < xml.size(); at += chunk) {
        const size_t n = std::min(chunk, xml.size() - at);
        if (XML_Parse(p, xml.data() + at, static_cast<int>(n), at + n == xml.size()) != XML_STATUS_OK) {
            std::fprintf(stderr, "expat: %s\n", XML_ErrorString(XML_GetErrorCode(p)));
            break;
        }
    }
    XML_ParserFree(p);
    return t;
}

Tally withScanner(const std::string& xml)
{
    struct Chunks final : ByteSource {
        const std::string& s;
        size_t at = 0;
        explicit Chunks(const std::string& text) : s(text) {}
        size_t read(char* buffer, size_t capacity) override
        {
            const size_t n = std::min({capacity, s.size() - at, size_t(256) << 10});
            std::memcpy(buffer, s.data() + at, n);
            at += n;
            return n;
        }
    } source(xml);
    Tally t;
    XmlScanner x(source, "bench", "sheet.xml");
    for (XmlScanner::Token k; (k = x.next()) != XmlScanner::Token::End;) {
        if (k == XmlScanner::Token::StartTag) {
            ++t.elements;
            for (const auto& a : x.attributes())
                t.attributes += !a.value.empty();
        } else if (k == XmlScanner::Token::Text) {
            t.textBytes += x.text().size();
        }
    }
    return t;
}

template <class F>
double best(F&& f, Tally& out)
{
    // Processor time, not wall time: the comparison should not depend on the machine's load.
    double fastest = 1e9;
    for (int i = 0; i < 5; ++i) {
        const std::clock_t start = std::clock();
        out = f();
        fastest = std::min(fastest, static_cast<double>(std::clock() - start) / CLOCKS_PER_SEC);
    }
    return fastest;
}
}  // namespace

int main(int argc, char** argv)
{
    std::string xml;
    if (argc > 1) {
        std::ifstream in(argv[1], std::ios::binary);
        std::ostringstream s;
        s << in.rdbuf();
        xml = s.str();
    } else {
        xml = makeSheet(100000);
    }
    Tally a, b;
    const double expat = best([&] { return withExpat(xml); }, a);
    const double scanner = best([&] { return withScanner(xml); }, b);
    std::printf("%.1f MB of XML: expat %.3f s, XmlScanner %.3f s (%.2fx); elements %zu/%zu, text bytes %zu/%zu\n",
                static_cast<double>(xml.size()) / 1e6, expat, scanner, scanner / expat, a.elements, b.elements, a.textBytes,
                b.textBytes);
    return 0;
}

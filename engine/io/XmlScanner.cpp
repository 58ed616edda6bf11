#include "XmlScanner.h"

#include <array>
#include <cstring>

#include "../Error.h"
#include "Utf.h"

namespace tabulon::engine {
namespace {
constexpr size_t kStreamBuffer = size_t(256) << 10;

inline bool isSpace(char c) { return c == ' ' || c == '\n' || c == '\r' || c == '\t'; }

// Characters that end a name, and the colon of a prefix, by table: tags are the hot path.
enum : uint8_t { kNameChar = 0, kNameEnd = 1, kColon = 2 };
constexpr auto kNameClass = [] {
    std::array<uint8_t, 256> t{};
    for (unsigned char c : {' ', '\n', '\r', '\t', '>', '/', '='})
        t[c] = kNameEnd;
    t[':'] = kColon;
    return t;
}();
inline bool endsName(char c) { return kNameClass[static_cast<unsigned char>(c)] == kNameEnd; }

// Scans a name from p; returns its end and sets `local` to the part after any prefix.
inline size_t scanName(const char* d, size_t p, size_t end, size_t& localStart)
{
    localStart = p;
    while (p < end) {
        const uint8_t k = kNameClass[static_cast<unsigned char>(d[p])];
        if (k == kNameEnd)
            break;
        if (k == kColon)
            localStart = p + 1;
        ++p;
    }
    return p;
}

bool characterReference(std::string_view ref, uint32_t& cp)
{
    // ref is what stands between "&#" and ";"
    uint32_t value = 0;
    const bool hex = !ref.empty() && (ref[0] == 'x' || ref[0] == 'X');
    if (hex)
        ref.remove_prefix(1);
    if (ref.empty() || ref.size() > 8)
        return false;
    for (char c : ref) {
        uint32_t digit;
        if (c >= '0' && c <= '9')
            digit = static_cast<uint32_t>(c - '0');
        else if (hex && c >= 'a' && c <= 'f')
            digit = static_cast<uint32_t>(c - 'a' + 10);
        else if (hex && c >= 'A' && c <= 'F')
            digit = static_cast<uint32_t>(c - 'A' + 10);
        else
            return false;
        value = value * (hex ? 16 : 10) + digit;
    }
    cp = value;
    return true;
}
}  // namespace

XmlScanner::XmlScanner(std::string_view document, std::string fileName, std::string partName)
    : m_data(document.data()), m_capacity(document.size()), m_end(document.size()), m_eof(true),
      m_fileName(std::move(fileName)), m_partName(std::move(partName))
{
}

XmlScanner::XmlScanner(ByteSource& source, std::string fileName, std::string partName)
    : m_source(&source), m_owned(new char[kStreamBuffer]), m_capacity(kStreamBuffer),
      m_fileName(std::move(fileName)), m_partName(std::move(partName))
{
    m_data = m_owned.get();
}

void XmlScanner::fail(const std::string& what) const
{
    throw Error(describe(m_fileName, "the part " + m_partName + " is damaged (" + what + ")"));
}

std::optional<std::string_view> XmlScanner::attribute(std::string_view localName) const
{
    for (const Attribute& a : m_attributes)
        if (a.name == localName)
            return a.value;
    return std::nullopt;
}

namespace {
// XML reads every CR LF pair and every lone CR in the document as one LF; only a character
// reference (&#13;) gives a real CR.
void appendLineEnds(std::string_view raw, std::string& out)
{
    size_t i = 0;
    for (size_t cr; (cr = raw.find('\r', i)) != std::string_view::npos; i = cr + 1) {
        out.append(raw.substr(i, cr - i));
        out.push_back('\n');
        if (cr + 1 < raw.size() && raw[cr + 1] == '\n')
            ++cr;
    }
    out.append(raw.substr(i));
}
}  // namespace

void XmlScanner::appendText(std::string& out) const
{
    if (m_cdata)
        appendLineEnds(m_text, out);
    else
        decode(m_text, out);
}

void XmlScanner::decode(std::string_view raw, std::string& out)
{
    size_t i = 0;
    for (;;) {
        const size_t amp = raw.find('&', i);
        if (amp == std::string_view::npos) {
            appendLineEnds(raw.substr(i), out);
            return;
        }
        appendLineEnds(raw.substr(i, amp - i), out);
        const size_t semi = raw.find(';', amp + 1);
        if (semi == std::string_view::npos || semi - amp > 12) {
            out.push_back('&');  // a bare ampersand: kept as written
            i = amp + 1;
            continue;
        }
        const std::string_view entity = raw.substr(amp + 1, semi - amp - 1);
        uint32_t cp = 0;
        if (entity == "lt")
            out.push_back('<');
        else if (entity == "gt")
            out.push_back('>');
        else if (entity == "amp")
            out.push_back('&');
        else if (entity == "quot")
            out.push_back('"');
        else if (entity == "apos")
            out.push_back('\'');
        else if (!entity.empty() && entity[0] == '#' && characterReference(entity.substr(1), cp))
            appendCodePoint(cp, out);
        else
            out.append(raw.substr(amp, semi + 1 - amp));  // unknown: nothing can declare it
        i = semi + 1;
    }
}

bool XmlScanner::refill()
{
    if (!m_source || m_eof)
        return false;
    if (m_pos == 0 && m_end == m_capacity) {
        if (m_capacity >= kMaxToken)
            fail("an element or text is larger than this program accepts");
        const size_t capacity = m_capacity * 2;
        std::unique_ptr<char[]> bigger(new char[capacity]);
        std::memcpy(bigger.get(), m_owned.get(), m_end);
        m_owned = std::move(bigger);
        m_capacity = capacity;
    } else if (m_pos > 0) {
        std::memmove(m_owned.get(), m_owned.get() + m_pos, m_end - m_pos);
        m_base += m_pos;
        m_end -= m_pos;
        m_pos = 0;
    }
    m_data = m_owned.get();
    const size_t n = m_source->read(m_owned.get() + m_end, m_capacity - m_end);
    if (n == 0) {
        m_eof = true;
        return false;
    }
    m_end += n;
    return true;
}

bool XmlScanner::parseTag(size_t start)
{
    const char* d = m_data;
    size_t p = start + 1;
    const bool isEnd = p < m_end && d[p] == '/';
    if (isEnd)
        ++p;
    const size_t nameStart = p;
    size_t localStart;
    p = scanName(d, p, m_end, localStart);
    if (p >= m_end)
        return false;
    if (p == nameStart)
        fail("a tag has no name");
    m_qname = std::string_view(d + nameStart, p - nameStart);
    m_name = std::string_view(d + localStart, p - localStart);
    m_attributes.clear();
    if (isEnd) {
        while (p < m_end && isSpace(d[p]))
            ++p;
        if (p >= m_end)
            return false;
        if (d[p] != '>')
            fail("an end tag is malformed");
        m_pos = p + 1;
        return true;
    }
    for (;;) {
        while (p < m_end && isSpace(d[p]))
            ++p;
        if (p >= m_end)
            return false;
        const char c = d[p];
        if (c == '>') {
            m_selfClosing = false;
            ++p;
            break;
        }
        if (c == '/') {
            if (p + 1 >= m_end)
                return false;
            if (d[p + 1] != '>')
                fail("a tag is malformed");
            m_selfClosing = true;
            p += 2;
            break;
        }
        const size_t attrStart = p;
        size_t attrLocal;
        p = scanName(d, p, m_end, attrLocal);
        const size_t attrEnd = p;
        while (p < m_end && isSpace(d[p]))
            ++p;
        if (p + 1 >= m_end)
            return false;
        if (attrEnd == attrStart || d[p] != '=')
            fail("an attribute is malformed");
        ++p;
        while (p < m_end && isSpace(d[p]))
            ++p;
        if (p >= m_end)
            return false;
        const char quote = d[p];
        if (quote != '"' && quote != '\'')
            fail("an attribute value is not quoted");
        const void* close = std::memchr(d + p + 1, quote, m_end - p - 1);
        if (!close)
            return false;
        const size_t valueEnd = static_cast<size_t>(static_cast<const char*>(close) - d);
        m_attributes.push_back({std::string_view(d + attrLocal, attrEnd - attrLocal),
                                std::string_view(d + p + 1, valueEnd - p - 1)});
        p = valueEnd + 1;
    }
    m_pos = p;
    return true;
}

bool XmlScanner::scanMarkup()
{
    const std::string_view rest(m_data + m_pos, m_end - m_pos);
    auto skipTo = [&](std::string_view terminator, size_t from) -> bool {
        const size_t at = rest.find(terminator, from);
        if (at == std::string_view::npos)
            return false;
        m_pos += at + terminator.size();
        return true;
    };
    if (rest.size() < 2)
        return false;
    if (rest[1] == '?')
        return skipTo("?>", 2);
    if (rest.size() < 9)
        return false;
    if (rest.starts_with("<!--"))
        return skipTo("-->", 4);
    if (rest.starts_with("<![CDATA[")) {
        const size_t at = rest.find("]]>", 9);
        if (at == std::string_view::npos)
            return false;
        m_text = rest.substr(9, at - 9);
        m_cdata = true;
        m_pos += at + 3;
        return true;
    }
    fail("it declares a document type or entities, which this program refuses");
}

XmlScanner::Token XmlScanner::next()
{
    if (m_pendingEnd) {
        m_pendingEnd = false;
        --m_depth;
        return Token::EndTag;
    }
    if (!m_started) {
        while (m_end - m_pos < 3 && refill()) {
        }
        if (m_end - m_pos >= 3 && std::memcmp(m_data + m_pos, "\xEF\xBB\xBF", 3) == 0)
            m_pos += 3;
        m_started = true;
    }
    for (;;) {
        if (m_pos >= m_end && !refill()) {
            if (m_depth != 0)
                fail("it ends early");
            return Token::End;
        }
        if (m_data[m_pos] != '<') {
            const char* start = m_data + m_pos;
            const void* lt = std::memchr(start, '<', m_end - m_pos);
            if (!lt) {
                if (refill())
                    continue;
                if (m_depth != 0)
                    fail("it ends early");
                m_pos = m_end;
                continue;
            }
            const size_t length = static_cast<size_t>(static_cast<const char*>(lt) - start);
            m_pos += length;
            if (m_depth == 0)
                continue;  // white space around the root element
            m_text = std::string_view(start, length);
            m_cdata = false;
            return Token::Text;
        }
        if (m_pos + 1 >= m_end && refill())
            continue;
        if (m_pos + 1 >= m_end)
            fail("it ends early");
        const char c = m_data[m_pos + 1];
        if (c == '!' || c == '?') {
            m_cdata = false;
            if (!scanMarkup()) {
                if (refill())
                    continue;
                fail("it ends early");
            }
            if (m_cdata) {
                if (m_depth == 0)
                    continue;
                return Token::Text;
            }
            continue;
        }
        if (!parseTag(m_pos)) {
            if (refill())
                continue;
            fail("it ends early");
        }
        if (c == '/') {
            if (m_depth == 0)
                fail("an end tag has no start tag");
            --m_depth;
            return Token::EndTag;
        }
        ++m_depth;
        if (m_selfClosing)
            m_pendingEnd = true;
        return Token::StartTag;
    }
}

void XmlScanner::skipElement()
{
    const uint32_t target = m_depth - 1;
    for (;;) {
        const Token t = next();
        if (t == Token::EndTag && m_depth == target)
            return;
        if (t == Token::End)
            fail("it ends early");
    }
}

std::string_view utf8Document(std::string_view bytes, std::string& storage)
{
    if (bytes.size() >= 3 && bytes.substr(0, 3) == "\xEF\xBB\xBF")
        return bytes.substr(3);
    bool little;
    size_t skip = 2;
    if (bytes.size() >= 2 && bytes[0] == '\xFF' && bytes[1] == '\xFE')
        little = true;
    else if (bytes.size() >= 2 && bytes[0] == '\xFE' && bytes[1] == '\xFF')
        little = false;
    else if (bytes.size() >= 4 && bytes[0] == '<' && bytes[1] == 0 && bytes[2] != 0 && bytes[3] == 0)
        little = true, skip = 0;
    else if (bytes.size() >= 4 && bytes[0] == 0 && bytes[1] == '<' && bytes[2] == 0 && bytes[3] != 0)
        little = false, skip = 0;
    else
        return bytes;
    storage.clear();
    appendUtf16(bytes.substr(skip), storage, !little);
    return storage;
}

}  // namespace tabulon::engine

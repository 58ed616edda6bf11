#pragma once
#include <cstdint>
#include <cstring>
#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tabulon::engine {

// Where a streaming scanner gets its bytes (an inflating zip part, for example).
class ByteSource {
public:
    virtual ~ByteSource() = default;
    // Fills up to `capacity` bytes; returns 0 at the end. May throw engine::Error.
    virtual size_t read(char* buffer, size_t capacity) = 0;
};

// A pull scanner for the XML of workbook packages, written for the worksheet part, where
// it runs once per cell. Measured by bench/ooxml/xml_scan_bench over the 88 MB sheet of
// 200,000 rows x 10 mixed cells: expat 0.64 s of processor time, this scanner 0.09 s.
// Expat alone would take longer than merely inflating the part (about 0.5 s), which is the
// time the whole conversion has to fit in. Being C++, it also lets a cell sink throw.
// It checks what it relies on (bounded tokens, balanced tags, closed quotes), refuses
// document type and entity declarations, and does not resolve namespaces: tags and
// attributes are matched by local name, so any prefix works. Every view it returns is
// valid until the next call to next(). Errors are engine::Error naming file and part.
class XmlScanner {
public:
    enum class Token : uint8_t { StartTag, EndTag, Text, End };
    struct Attribute {
        std::string_view name;   // local name
        std::string_view value;  // raw: entities not yet decoded
    };

    // Scans a document held in memory; the bytes must outlive the scanner.
    XmlScanner(std::string_view document, std::string fileName, std::string partName);
    // Scans a document read piece by piece.
    XmlScanner(ByteSource& source, std::string fileName, std::string partName);

    // The next token. A self-closing tag gives a StartTag and then its EndTag.
    Token next();
    std::string_view name() const { return m_name; }
    bool selfClosing() const { return m_selfClosing; }
    const std::vector<Attribute>& attributes() const { return m_attributes; }
    // The raw value of an attribute of the current start tag, by local name.
    std::optional<std::string_view> attribute(std::string_view localName) const;
    // The current text token: raw (entities not decoded) unless cdata().
    std::string_view text() const { return m_text; }
    bool cdata() const { return m_cdata; }
    void appendText(std::string& out) const;
    // After a StartTag: skips to the end of that element.
    void skipElement();
    // Depth of open elements (1 inside the root element).
    uint32_t depth() const { return m_depth; }
    // The current tag's name as written, with its prefix.
    std::string_view qualifiedName() const { return m_qname; }
    // Offset in the document of the next byte not yet scanned (before a call to next(), where
    // its token begins, or the comments and processing instructions before it).
    uint64_t offset() const { return m_base + m_pos; }

    // Shortcuts for the worksheet's hot path; each does nothing and returns false unless the
    // next bytes are exactly what it looks for (then they are consumed).
    // <qname>text</qname>: sets `text` (raw, entities not decoded).
    bool tryTextElement(std::string_view qname, std::string_view& text)
    {
        const size_t n = qname.size();
        const size_t open = m_pos + n + 2;
        if (m_pendingEnd || open >= m_end || m_data[m_pos] != '<' || m_data[open - 1] != '>' || !same(m_pos + 1, qname))
            return false;
        const void* lt = std::memchr(m_data + open, '<', m_end - open);
        if (!lt)
            return false;
        const size_t close = static_cast<size_t>(static_cast<const char*>(lt) - m_data);
        if (close + n + 3 > m_end || m_data[close + 1] != '/' || m_data[close + n + 2] != '>' || !same(close + 2, qname))
            return false;
        text = std::string_view(m_data + open, close - open);
        m_pos = close + n + 3;
        return true;
    }
    // </qname>
    bool tryEndTag(std::string_view qname)
    {
        const size_t end = m_pos + qname.size() + 3;
        if (m_pendingEnd || m_depth == 0 || end > m_end || m_data[m_pos] != '<' || m_data[m_pos + 1] != '/' ||
            m_data[end - 1] != '>' || !same(m_pos + 2, qname))
            return false;
        m_pos = end;
        --m_depth;
        return true;
    }

    // Appends `raw` with its character and entity references decoded and its line ends
    // read as XML reads them (CR LF and a lone CR become LF).
    static void decode(std::string_view raw, std::string& out);
    [[noreturn]] void fail(const std::string& what) const;
    const std::string& fileName() const { return m_fileName; }

    static constexpr size_t kMaxToken = size_t(16) << 20;

private:
    bool same(size_t at, std::string_view name) const
    {
        for (size_t i = 0; i < name.size(); ++i)
            if (m_data[at + i] != name[i])
                return false;
        return true;
    }
    bool refill();
    Token scanTag();
    bool scanMarkup();  // comments, CDATA, processing instructions; false when incomplete
    bool parseTag(size_t start);

    ByteSource* m_source = nullptr;
    std::unique_ptr<char[]> m_owned;
    const char* m_data = nullptr;
    size_t m_capacity = 0;
    size_t m_pos = 0;
    size_t m_end = 0;
    uint64_t m_base = 0;  // document offset of m_data[0]
    bool m_eof = false;
    bool m_pendingEnd = false;
    bool m_selfClosing = false;
    bool m_cdata = false;
    bool m_started = false;
    uint32_t m_depth = 0;
    std::string_view m_name;
    std::string_view m_qname;
    std::string_view m_text;
    std::vector<Attribute> m_attributes;
    std::string m_fileName;
    std::string m_partName;
};

// The text of a part in UTF-8: converts UTF-16 parts (with a byte-order mark) and drops a
// UTF-8 byte-order mark. Returns the input when there is nothing to do.
std::string_view utf8Document(std::string_view bytes, std::string& storage);

}  // namespace tabulon::engine

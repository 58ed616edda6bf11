#include "Package.h"

#include <algorithm>

#include "../Error.h"
#include "XmlScanner.h"
#include "Zip.h"

namespace tabulon::engine {
namespace {

using Token = XmlScanner::Token;

// Relationship and content-type parts are read whole; real ones hold a few kilobytes.
constexpr uint64_t kMaxTextPart = uint64_t(64) << 20;

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c - 'A' + 'a') : c; };
               return lower(x) == lower(y);
           });
}

// The last segment of a relationship type URI.
std::string_view lastSegment(std::string_view type)
{
    const size_t slash = type.rfind('/');
    return slash == std::string_view::npos ? type : type.substr(slash + 1);
}

// An attribute of the scanner's current tag, with its entities decoded.
std::string decodedAttribute(const XmlScanner& x, std::string_view name)
{
    std::string out;
    if (auto v = x.attribute(name))
        XmlScanner::decode(*v, out);
    return out;
}

bool isWorkbookContentType(std::string_view type, bool& binary)
{
    binary = type.find("sheet.binary.macroEnabled.main") != std::string_view::npos;
    return binary || (type.find("spreadsheetml") != std::string_view::npos && type.ends_with(".main+xml"));
}

}  // namespace

std::string relationshipsPartOf(std::string_view part)
{
    if (part.empty())
        return "_rels/.rels";
    const size_t slash = part.rfind('/');
    if (slash == std::string_view::npos)
        return "_rels/" + std::string(part) + ".rels";
    return std::string(part.substr(0, slash)) + "/_rels/" + std::string(part.substr(slash + 1)) + ".rels";
}

std::string resolveTarget(std::string_view sourcePart, std::string_view target)
{
    std::string t(target);
    std::replace(t.begin(), t.end(), '\\', '/');
    if (const size_t hash = t.find('#'); hash != std::string::npos)
        t.resize(hash);
    std::vector<std::string_view> segments;
    auto walk = [&segments](std::string_view path) {
        size_t start = 0;
        while (start <= path.size()) {
            const size_t end = std::min(path.find('/', start), path.size());
            const std::string_view segment = path.substr(start, end - start);
            if (segment == "..") {
                if (!segments.empty())
                    segments.pop_back();
            } else if (!segment.empty() && segment != ".") {
                segments.push_back(segment);
            }
            start = end + 1;
        }
    };
    if (t.empty() || t[0] != '/') {
        const size_t slash = sourcePart.rfind('/');
        walk(slash == std::string_view::npos ? std::string_view() : sourcePart.substr(0, slash));
    }
    walk(t);
    std::string out;
    for (const auto segment : segments) {
        if (!out.empty())
            out.push_back('/');
        out += segment;
    }
    return out;
}

std::string percentDecode(std::string_view s)
{
    auto hex = [](char c) -> int {
        if (c >= '0' && c <= '9')
            return c - '0';
        if (c >= 'a' && c <= 'f')
            return c - 'a' + 10;
        if (c >= 'A' && c <= 'F')
            return c - 'A' + 10;
        return -1;
    };
    std::string out;
    out.reserve(s.size());
    for (size_t i = 0; i < s.size(); ++i) {
        if (s[i] == '%' && i + 2 < s.size() && hex(s[i + 1]) >= 0 && hex(s[i + 2]) >= 0) {
            out.push_back(static_cast<char>(hex(s[i + 1]) * 16 + hex(s[i + 2])));
            i += 2;
        } else {
            out.push_back(s[i]);
        }
    }
    return out;
}

std::optional<uint64_t> findPart(const ZipArchive& zip, std::string_view path)
{
    if (path.empty())
        return std::nullopt;
    if (auto index = zip.find(path))
        return index;
    const std::string decoded = percentDecode(path);
    if (decoded != path)
        return zip.find(decoded);
    return std::nullopt;
}

std::string readTextPart(const ZipArchive& zip, uint64_t index)
{
    std::string bytes = zip.readAll(index, kMaxTextPart);
    std::string converted;
    const std::string_view text = utf8Document(bytes, converted);
    if (text.data() == converted.data())
        return converted;
    if (text.size() == bytes.size())
        return bytes;
    return std::string(text);
}

std::vector<Relationship> readRelationships(const ZipArchive& zip, std::string_view part)
{
    std::vector<Relationship> out;
    const std::string relsPart = relationshipsPartOf(part);
    const auto index = zip.find(relsPart);
    if (!index)
        return out;
    const std::string xml = readTextPart(zip, *index);
    XmlScanner x(xml, zip.displayName(), zip.partName(*index));
    for (Token t; (t = x.next()) != Token::End;) {
        if (t != Token::StartTag || x.name() != "Relationship")
            continue;
        if (auto mode = x.attribute("TargetMode"); mode && equalsIgnoringCase(*mode, "External"))
            continue;
        out.push_back({decodedAttribute(x, "Id"), std::string(lastSegment(decodedAttribute(x, "Type"))),
                       resolveTarget(part, decodedAttribute(x, "Target"))});
    }
    return out;
}

const Relationship* findRelationship(const std::vector<Relationship>& rels, std::string_view type)
{
    for (const auto& rel : rels)
        if (rel.type == type)
            return &rel;
    return nullptr;
}

const Relationship* relationshipWithId(const std::vector<Relationship>& rels, std::string_view id)
{
    for (const auto& rel : rels)
        if (rel.id == id)
            return &rel;
    return nullptr;
}

WorkbookPart findWorkbookPart(const ZipArchive& zip)
{
    WorkbookPart main;
    for (const auto& rel : readRelationships(zip, ""))
        if (rel.type == "officeDocument" && findPart(zip, rel.target)) {
            main.path = rel.target;
            break;
        }
    const auto types = zip.find("[Content_Types].xml");
    if (!types)
        return main;
    const std::string xml = readTextPart(zip, *types);
    XmlScanner x(xml, zip.displayName(), "[Content_Types].xml");
    const std::string mainDecoded = percentDecode(main.path);
    const size_t dot = main.path.rfind('.');
    const std::string_view extension =
        dot == std::string::npos || main.path.find('/', dot) != std::string::npos ? std::string_view()
                                                                                 : std::string_view(main.path).substr(dot + 1);
    std::optional<bool> byDefault;
    for (Token t; (t = x.next()) != Token::End;) {
        if (t != Token::StartTag)
            continue;
        const std::string type = decodedAttribute(x, "ContentType");
        bool binary = false;
        const bool workbook = isWorkbookContentType(type, binary);
        if (x.name() == "Override") {
            const std::string name = resolveTarget("", decodedAttribute(x, "PartName"));
            if (main.path.empty()) {
                // No relationship leads to the workbook: the first workbook override that exists.
                if (workbook && findPart(zip, name)) {
                    main.path = name;
                    main.binary = binary;
                    return main;
                }
            } else if (equalsIgnoringCase(percentDecode(name), mainDecoded)) {
                main.binary = binary;
                return main;
            }
        } else if (x.name() == "Default" && !extension.empty()) {
            if (equalsIgnoringCase(decodedAttribute(x, "Extension"), extension))
                byDefault = binary;
        }
    }
    main.binary = byDefault.value_or(false);
    return main;
}

}  // namespace tabulon::engine

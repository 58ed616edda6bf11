#include "PackageRels.h"

#include <expat.h>

#include <memory>

#include "../Error.h"
#include "../io/Zip.h"

namespace tabulon::engine {
namespace {

constexpr uint64_t kMaxRelsBytes = uint64_t(16) << 20;

std::string_view localName(std::string_view name)
{
    const size_t colon = name.rfind(':');
    return colon == std::string_view::npos ? name : name.substr(colon + 1);
}

struct RelsState {
    std::vector<PackageRel> rels;
    std::vector<std::string> modes;
    bool refused = false;
};

void XMLCALL startElement(void* data, const XML_Char* name, const XML_Char** attrs)
{
    auto& state = *static_cast<RelsState*>(data);
    if (localName(name) != "Relationship")
        return;
    PackageRel rel;
    std::string mode;
    for (size_t i = 0; attrs[i] && attrs[i + 1]; i += 2) {
        const std::string_view key = attrs[i];
        if (key == "Id")
            rel.id = attrs[i + 1];
        else if (key == "Type")
            rel.type = attrs[i + 1];
        else if (key == "Target")
            rel.target = attrs[i + 1];
        else if (key == "TargetMode")
            mode = attrs[i + 1];
    }
    state.rels.push_back(std::move(rel));
    state.modes.push_back(std::move(mode));
}

std::string resolve(const std::string& base, std::string_view target)
{
    std::string joined;
    if (!target.empty() && target.front() == '/')
        joined = std::string(target.substr(1));
    else {
        const size_t slash = base.rfind('/');
        joined = (slash == std::string::npos ? std::string() : base.substr(0, slash + 1)) + std::string(target);
    }
    std::vector<std::string> segments;
    size_t start = 0;
    while (start <= joined.size()) {
        size_t end = joined.find_first_of("/\\", start);
        if (end == std::string::npos)
            end = joined.size();
        const std::string segment = joined.substr(start, end - start);
        if (segment == "..") {
            if (!segments.empty())
                segments.pop_back();
        } else if (!segment.empty() && segment != ".")
            segments.push_back(segment);
        start = end + 1;
    }
    std::string out;
    for (const auto& s : segments)
        out += (out.empty() ? "" : "/") + s;
    return out;
}

}  // namespace

std::vector<PackageRel> readPackageRels(const ZipArchive& zip, const std::string& part)
{
    const size_t slash = part.rfind('/');
    const std::string relsName = part.empty() ? "_rels/.rels"
                                              : (slash == std::string::npos ? std::string() : part.substr(0, slash + 1)) +
                                                    "_rels/" + part.substr(slash == std::string::npos ? 0 : slash + 1) + ".rels";
    const auto index = zip.find(relsName);
    if (!index)
        return {};
    const std::string xml = zip.readAll(*index, kMaxRelsBytes);

    RelsState state;
    std::unique_ptr<XML_ParserStruct, void (*)(XML_Parser)> parser(XML_ParserCreate(nullptr), XML_ParserFree);
    if (!parser)
        throw std::bad_alloc();
    XML_SetUserData(parser.get(), &state);
    XML_SetStartElementHandler(parser.get(), startElement);
    // Entity declarations are how XML bombs expand; package parts never need them.
    XML_SetStartDoctypeDeclHandler(parser.get(), [](void* data, const XML_Char*, const XML_Char*, const XML_Char*, int) {
        static_cast<RelsState*>(data)->refused = true;
    });
    XML_SetEntityDeclHandler(parser.get(), [](void* data, const XML_Char*, int, const XML_Char*, int, const XML_Char*,
                                              const XML_Char*, const XML_Char*, const XML_Char*) {
        static_cast<RelsState*>(data)->refused = true;
    });
    const auto status = XML_Parse(parser.get(), xml.data(), static_cast<int>(xml.size()), 1);
    if (state.refused)
        zip.fail("a part declares a document type, which package parts never do", index);
    if (status != XML_STATUS_OK)
        zip.fail("a part is not well-formed XML (" + std::string(XML_ErrorString(XML_GetErrorCode(parser.get()))) +
                     " at line " + std::to_string(XML_GetCurrentLineNumber(parser.get())) + ")",
                 index);

    std::vector<PackageRel> out;
    for (size_t i = 0; i < state.rels.size(); ++i) {
        if (state.modes[i] == "External")
            continue;
        auto rel = std::move(state.rels[i]);
        rel.target = resolve(part, rel.target);
        out.push_back(std::move(rel));
    }
    return out;
}

std::string_view relKind(std::string_view type)
{
    const size_t slash = type.rfind('/');
    return slash == std::string_view::npos ? type : type.substr(slash + 1);
}

const PackageRel* findRel(const std::vector<PackageRel>& rels, std::string_view kind)
{
    for (const auto& rel : rels)
        if (relKind(rel.type) == kind)
            return &rel;
    return nullptr;
}

}  // namespace tabulon::engine

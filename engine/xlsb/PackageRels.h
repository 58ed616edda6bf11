#pragma once
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tabulon::engine {

class ZipArchive;

// One relationship of an OOXML package part (the .rels parts).
struct PackageRel {
    std::string id;
    std::string type;    // full type URI
    std::string target;  // resolved to a package path without a leading "/"
};

// The relationships of `part` ("xl/workbook.bin" reads "xl/_rels/workbook.bin.rels"; "" reads
// the package's own "_rels/.rels"). External targets are left out. A missing .rels part gives
// an empty list. Throws engine::Error when the part is not well-formed XML.
std::vector<PackageRel> readPackageRels(const ZipArchive& zip, const std::string& part);

// The first relationship whose type ends in "/<kind>" (the namespaces of the type URIs vary).
const PackageRel* findRel(const std::vector<PackageRel>& rels, std::string_view kind);

// The last path segment of a relationship type.
std::string_view relKind(std::string_view type);

}  // namespace tabulon::engine

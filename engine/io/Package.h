#pragma once
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tabulon::engine {

class ZipArchive;

// The package layer of .xlsx, .xlsm and .xlsb files: the relationships that lead from one
// part to the next, the content types, and which kind of workbook the main part is. Both
// OOXML readers and format detection go through here, so they find the same parts.

// One internal relationship of a part.
struct Relationship {
    std::string id;
    std::string type;    // the last segment of the type URI: transitional and strict types share it
    std::string target;  // the package path it leads to, resolved (see resolveTarget)
};

// The path of the part that holds `part`'s relationships ("" gives the package's "_rels/.rels").
std::string relationshipsPartOf(std::string_view part);

// Resolves a relationship target against the part that names it. Targets are relative to that
// part's folder or absolute ("/xl/sheet.xml"), may use backslashes, climb with "..", and carry
// a "#fragment" that does not belong to the part name. The result has no leading "/" and keeps
// percent-escapes as written: findPart decodes them.
std::string resolveTarget(std::string_view sourcePart, std::string_view target);

// "%20" and the like decoded; malformed escapes stay as written.
std::string percentDecode(std::string_view s);

// A part by its resolved path: as written, then percent-decoded (producers write names with
// spaces both ways). Without regard to case, as the zip layer finds names.
std::optional<uint64_t> findPart(const ZipArchive& zip, std::string_view path);

// The internal relationships of `part` ("" for the package's own), in file order. External
// ones (TargetMode="External", any case) are left out. A missing .rels part gives an empty
// list. Throws engine::Error naming file and part when the .rels part is not sound XML.
std::vector<Relationship> readRelationships(const ZipArchive& zip, std::string_view part);

// The first relationship of a type (its last segment, "worksheet") or with an id; or null.
const Relationship* findRelationship(const std::vector<Relationship>& rels, std::string_view type);
const Relationship* relationshipWithId(const std::vector<Relationship>& rels, std::string_view id);

// A part as small UTF-8 text (UTF-16 parts converted), capped for parts read whole.
std::string readTextPart(const ZipArchive& zip, uint64_t index);

// The package's workbook part and whether it is binary (.xlsb) or XML (.xlsx, .xlsm).
struct WorkbookPart {
    std::string path;  // resolved; empty when the package names no workbook part that exists
    bool binary = false;
};

// Follows the package's officeDocument relationship to a part that exists; without one, the
// content types' workbook override. The kind comes from the content type of that part (its
// override, or the default for its extension).
WorkbookPart findWorkbookPart(const ZipArchive& zip);

}  // namespace tabulon::engine

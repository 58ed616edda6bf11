#pragma once
#include <cstdint>
#include <filesystem>
#include <string>
#include <string_view>
#include <utility>
#include <vector>

namespace tabulon::test {

// Builds a zip package in memory, for tests that need hand-made .xlsx, .xlsb or .ods files.
//   std::string bytes = ZipBuilder().add("mimetype", "...", false).add("content.xml", xml).bytes();
class ZipBuilder {
public:
    // Adds a part; later parts of the same name are added again (zips may hold duplicates).
    ZipBuilder& add(std::string name, std::string content, bool deflate = true);
    // The finished package.
    std::string bytes() const;
    // Writes the package to a file and returns its path.
    std::filesystem::path save(const std::filesystem::path& file) const;

private:
    struct Part {
        std::string name, content;
        bool deflate;
    };
    std::vector<Part> m_parts;
};

// Hostile packages that no zip writer makes, assembled byte by byte.
// One deflated part whose local header and data are listed in the central directory under
// every name of `names`: each name reads the same packed bytes.
std::string sharedDataZip(const std::vector<std::string>& names, std::string_view content);
// One part `name` of `inflatedSize` zero bytes (a multiple of 1 MiB), deflated about a
// thousand to one without deflating that much: one flushed megabyte is repeated. Its stated
// checksum is wrong, as no reader may get to its end. Other
// parts (`extra`, deflated normally) come first.
std::string uniformBombZip(const std::string& name, uint64_t inflatedSize,
                           const std::vector<std::pair<std::string, std::string>>& extra = {});

// How much the peak memory of this process grew while it lived, in bytes (0 when the
// earlier peak was higher): a bound on what the code under test held at once.
class PeakMemoryGrowth {
public:
    PeakMemoryGrowth();
    uint64_t bytes() const;

private:
    uint64_t m_start;
};

// A fresh directory under the system's temporary folder, removed with its contents.
class TempDir {
public:
    TempDir();
    ~TempDir();
    TempDir(const TempDir&) = delete;
    TempDir& operator=(const TempDir&) = delete;
    const std::filesystem::path& path() const { return m_path; }
    std::filesystem::path operator/(std::string_view name) const { return m_path / name; }

private:
    std::filesystem::path m_path;
};

// Whole-file helpers.
std::string readFile(const std::filesystem::path& file);
void writeFile(const std::filesystem::path& file, std::string_view bytes);

}  // namespace tabulon::test

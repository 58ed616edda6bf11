#pragma once
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

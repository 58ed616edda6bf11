#include "ZipBuilder.h"

#include <zip.h>

#include <cstdlib>
#include <fstream>
#include <sstream>
#include <stdexcept>

namespace tabulon::test {

ZipBuilder& ZipBuilder::add(std::string name, std::string content, bool deflate)
{
    m_parts.push_back({std::move(name), std::move(content), deflate});
    return *this;
}

std::string ZipBuilder::bytes() const
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(nullptr, 0, 0, &error);
    if (!source)
        throw std::runtime_error("zip_source_buffer_create failed");
    zip_source_keep(source);
    zip_t* archive = zip_open_from_source(source, ZIP_TRUNCATE, &error);
    if (!archive) {
        zip_source_free(source);
        throw std::runtime_error("zip_open_from_source failed");
    }
    for (const Part& part : m_parts) {
        zip_source_t* data = zip_source_buffer(archive, part.content.data(), part.content.size(), 0);
        const zip_int64_t index = data ? zip_file_add(archive, part.name.c_str(), data, ZIP_FL_ENC_UTF_8) : -1;
        if (index < 0) {
            zip_source_free(data);
            zip_discard(archive);
            zip_source_free(source);
            throw std::runtime_error("cannot add " + part.name + " to a zip");
        }
        zip_set_file_compression(archive, static_cast<zip_uint64_t>(index), part.deflate ? ZIP_CM_DEFLATE : ZIP_CM_STORE, 0);
    }
    if (zip_close(archive) != 0) {
        zip_discard(archive);
        zip_source_free(source);
        throw std::runtime_error("zip_close failed");
    }
    std::string out;
    if (zip_source_open(source) == 0) {
        char buffer[65536];
        zip_int64_t n;
        while ((n = zip_source_read(source, buffer, sizeof buffer)) > 0)
            out.append(buffer, static_cast<size_t>(n));
        zip_source_close(source);
    }
    zip_source_free(source);
    return out;
}

std::filesystem::path ZipBuilder::save(const std::filesystem::path& file) const
{
    writeFile(file, bytes());
    return file;
}

TempDir::TempDir()
{
    std::string pattern = (std::filesystem::temp_directory_path() / "tabulon-test-XXXXXX").string();
    if (!::mkdtemp(pattern.data()))
        throw std::runtime_error("mkdtemp failed");
    m_path = pattern;
}

TempDir::~TempDir()
{
    std::error_code ec;
    std::filesystem::remove_all(m_path, ec);
}

std::string readFile(const std::filesystem::path& file)
{
    std::ifstream in(file, std::ios::binary);
    if (!in)
        throw std::runtime_error("cannot read " + file.string());
    std::ostringstream text;
    text << in.rdbuf();
    return text.str();
}

void writeFile(const std::filesystem::path& file, std::string_view bytes)
{
    std::ofstream out(file, std::ios::binary | std::ios::trunc);
    out.write(bytes.data(), static_cast<std::streamsize>(bytes.size()));
    if (!out)
        throw std::runtime_error("cannot write " + file.string());
}

}  // namespace tabulon::test

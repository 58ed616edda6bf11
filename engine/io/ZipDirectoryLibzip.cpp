#include "ZipDirectory.h"

#include <zip.h>

namespace tabulon::engine {
namespace {

std::string zipErrorText(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}

class LibzipMember final : public ZipMemberReader {
public:
    explicit LibzipMember(zip_file_t* file) : m_file(file) {}
    ~LibzipMember() override { zip_fclose(m_file); }

    size_t read(char* buffer, size_t size) override
    {
        const zip_int64_t n = zip_fread(m_file, buffer, size);
        if (n < 0)
            throw ZipDirectoryError(std::string("a part is damaged (") + zip_file_strerror(m_file) + ")");
        return static_cast<size_t>(n);
    }

private:
    zip_file_t* m_file;
};

class LibzipDirectory final : public ZipDirectory {
public:
    explicit LibzipDirectory(zip_t* zip) : m_zip(zip)
    {
        const zip_int64_t count = zip_get_num_entries(m_zip, 0);
        m_entries.resize(count > 0 ? static_cast<size_t>(count) : 0);
        for (size_t i = 0; i < m_entries.size(); ++i) {
            ZipEntry& entry = m_entries[i];
            if (const char* name = zip_get_name(m_zip, i, ZIP_FL_ENC_GUESS))
                entry.name = name;
            zip_stat_t st;
            zip_stat_init(&st);
            if (zip_stat_index(m_zip, i, 0, &st) != 0)
                continue;
            entry.method = (st.valid & ZIP_STAT_COMP_METHOD) ? st.comp_method : ZIP_CM_DEFLATE;
            entry.encrypted = (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
            entry.packedSize = (st.valid & ZIP_STAT_COMP_SIZE) ? st.comp_size : 0;
            if (st.valid & ZIP_STAT_SIZE)
                entry.size = st.size;
            if (st.valid & ZIP_STAT_CRC)
                entry.crc = st.crc;
        }
    }
    ~LibzipDirectory() override { zip_discard(m_zip); }

    std::unique_ptr<ZipMemberReader> open(uint64_t index, bool raw) override
    {
        zip_file_t* file = zip_fopen_index(m_zip, index, raw ? ZIP_FL_COMPRESSED : 0);
        if (!file)
            throw ZipDirectoryError(std::string("a part cannot be unpacked (") + zip_strerror(m_zip) + ")");
        return std::make_unique<LibzipMember>(file);
    }

private:
    zip_t* m_zip;
};

ZipDirectoryError cannotOpen(int code)
{
    if (code == ZIP_ER_NOZIP || code == ZIP_ER_INCONS)
        return ZipDirectoryError("the file is damaged (its zip directory cannot be read)");
    return ZipDirectoryError("the zip package cannot be opened (" + zipErrorText(code) + ")");
}

}  // namespace

std::unique_ptr<ZipDirectory> ZipDirectory::openFile(const std::filesystem::path& file)
{
    int code = 0;
    zip_t* zip = zip_open(file.c_str(), ZIP_RDONLY, &code);
    if (!zip)
        throw cannotOpen(code);
    return std::make_unique<LibzipDirectory>(zip);
}

std::unique_ptr<ZipDirectory> ZipDirectory::openMemory(const void* data, size_t size)
{
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(data, size, 0, &error);
    if (!source) {
        zip_error_fini(&error);
        throw ZipDirectoryError("out of memory");
    }
    zip_t* zip = zip_open_from_source(source, ZIP_RDONLY, &error);
    zip_error_fini(&error);
    if (!zip) {
        zip_source_free(source);
        throw ZipDirectoryError("the file is damaged (its zip directory cannot be read)");
    }
    return std::make_unique<LibzipDirectory>(zip);
}

}  // namespace tabulon::engine

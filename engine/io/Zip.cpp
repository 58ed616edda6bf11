#include "Zip.h"

#include <zip.h>

#include <algorithm>
#include <cctype>

#include "../Error.h"

namespace tabulon::engine {
namespace {
// XML parts compress well, but not beyond a few hundred to one in real files; deflate's
// ceiling is about a thousand to one, which only a bomb reaches.
constexpr uint64_t kMaxRatio = 400;
constexpr uint64_t kRatioSlack = uint64_t(1) << 20;
constexpr uint64_t kAbsoluteCap = uint64_t(4) << 30;

std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

std::string zipErrorText(int code)
{
    zip_error_t error;
    zip_error_init_with_code(&error, code);
    std::string text = zip_error_strerror(&error);
    zip_error_fini(&error);
    return text;
}
}  // namespace

std::unique_ptr<ZipArchive> ZipArchive::openFile(const std::filesystem::path& file)
{
    std::unique_ptr<ZipArchive> archive(new ZipArchive);
    archive->m_displayName = file.string();
    int code = 0;
    archive->m_zip = zip_open(file.c_str(), ZIP_RDONLY, &code);
    if (!archive->m_zip)
        archive->fail(code == ZIP_ER_NOZIP || code == ZIP_ER_INCONS ? "the file is damaged (its zip directory cannot be read)"
                                                                    : "the zip package cannot be opened (" + zipErrorText(code) + ")");
    archive->index();
    return archive;
}

std::unique_ptr<ZipArchive> ZipArchive::openMemory(const void* data, size_t size, std::string displayName)
{
    std::unique_ptr<ZipArchive> archive(new ZipArchive);
    archive->m_displayName = std::move(displayName);
    zip_error_t error;
    zip_error_init(&error);
    zip_source_t* source = zip_source_buffer_create(data, size, 0, &error);
    if (!source) {
        zip_error_fini(&error);
        archive->fail("out of memory");
    }
    archive->m_zip = zip_open_from_source(source, ZIP_RDONLY, &error);
    if (!archive->m_zip) {
        zip_source_free(source);
        zip_error_fini(&error);
        archive->fail("the file is damaged (its zip directory cannot be read)");
    }
    zip_error_fini(&error);
    archive->index();
    return archive;
}

ZipArchive::~ZipArchive()
{
    if (m_zip)
        zip_discard(m_zip);
}

void ZipArchive::index()
{
    const zip_int64_t count = zip_get_num_entries(m_zip, 0);
    for (zip_int64_t i = 0; i < count; ++i) {
        const char* name = zip_get_name(m_zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS);
        if (!name)
            continue;
        std::string_view n(name);
        while (!n.empty() && (n.front() == '/' || n.front() == '\\'))
            n.remove_prefix(1);
        m_lowerNames.emplace_back(lower(n), static_cast<uint64_t>(i));
    }
    std::stable_sort(m_lowerNames.begin(), m_lowerNames.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

std::optional<uint64_t> ZipArchive::find(std::string_view name) const
{
    while (!name.empty() && (name.front() == '/' || name.front() == '\\'))
        name.remove_prefix(1);
    const std::string key = lower(name);
    auto it = std::lower_bound(m_lowerNames.begin(), m_lowerNames.end(), key,
                               [](const auto& entry, const std::string& k) { return entry.first < k; });
    if (it != m_lowerNames.end() && it->first == key)
        return it->second;
    return std::nullopt;
}

std::vector<std::string> ZipArchive::names() const
{
    std::vector<std::string> out;
    const zip_int64_t count = zip_get_num_entries(m_zip, 0);
    for (zip_int64_t i = 0; i < count; ++i)
        if (const char* name = zip_get_name(m_zip, static_cast<zip_uint64_t>(i), ZIP_FL_ENC_GUESS))
            out.emplace_back(name);
    return out;
}

std::string ZipArchive::partName(uint64_t index) const
{
    const char* name = zip_get_name(m_zip, index, ZIP_FL_ENC_GUESS);
    return name ? name : "?";
}

bool ZipArchive::isEncrypted(uint64_t index) const
{
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_zip, index, 0, &st) != 0)
        return false;
    return (st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE;
}

void ZipArchive::fail(const std::string& what, std::optional<uint64_t> part) const
{
    std::string text = "Cannot read \"" + m_displayName + "\": " + what;
    if (part)
        text += " (part " + partName(*part) + ")";
    throw Error(text + ".");
}

std::string ZipArchive::readAll(uint64_t index, uint64_t cap) const
{
    auto s = stream(index);
    std::string out;
    char buffer[65536];
    while (size_t n = s->read(buffer, sizeof buffer)) {
        if (out.size() + n > cap)
            fail("a part is larger than this program accepts", index);
        out.append(buffer, n);
    }
    return out;
}

std::unique_ptr<ZipStream> ZipArchive::stream(uint64_t index) const
{
    return std::unique_ptr<ZipStream>(new ZipStream(*this, index));
}

ZipStream::ZipStream(const ZipArchive& archive, uint64_t index) : m_archive(archive), m_index(index)
{
    if (archive.isEncrypted(index))
        archive.fail("the workbook is password-protected", index);
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(archive.m_zip, index, 0, &st) != 0)
        archive.fail("the zip directory is damaged", index);
    const uint64_t compressed = (st.valid & ZIP_STAT_COMP_SIZE) ? st.comp_size : 0;
    m_cap = std::min<uint64_t>(kAbsoluteCap, compressed * kMaxRatio + kRatioSlack);
    m_file = zip_fopen_index(archive.m_zip, index, 0);
    if (!m_file)
        archive.fail(std::string("a part cannot be unpacked (") + zip_strerror(archive.m_zip) + ")", index);
}

ZipStream::~ZipStream()
{
    if (m_file)
        zip_fclose(m_file);
}

size_t ZipStream::read(char* buffer, size_t size)
{
    const zip_int64_t n = zip_fread(m_file, buffer, size);
    if (n < 0)
        m_archive.fail(std::string("a part is damaged (") + zip_file_strerror(m_file) + ")", m_index);
    m_total += static_cast<uint64_t>(n);
    if (m_total > m_cap)
        m_archive.fail("a part unpacks to far more data than its packed size allows (a zip bomb?)", m_index);
    return static_cast<size_t>(n);
}

}  // namespace tabulon::engine

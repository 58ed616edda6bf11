#include "Zip.h"

#include <zip.h>

#include <isa-l/crc.h>
#include <isa-l/igzip_lib.h>

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>
#include <thread>

#include "../Error.h"
#include "../HandOff.h"

namespace tabulon::engine {
namespace {
// XML parts compress well, but not beyond a few hundred to one in real files; deflate's
// ceiling is about a thousand to one, which only a bomb reaches.
constexpr uint64_t kMaxRatio = 400;
constexpr uint64_t kRatioSlack = uint64_t(1) << 20;
constexpr uint64_t kAbsoluteCap = uint64_t(4) << 30;

// The lookup key of a part name: lower case, with the backslashes some Windows tools write.
std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = c == '\\' ? '/' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
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
    std::lock_guard lock(m_lock);
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

uint64_t ZipArchive::statedSize(uint64_t index) const
{
    std::lock_guard lock(m_lock);
    zip_stat_t st;
    zip_stat_init(&st);
    if (zip_stat_index(m_zip, index, 0, &st) != 0 || !(st.valid & ZIP_STAT_SIZE))
        return 0;
    return st.size;
}

namespace {
uint32_t crc32Of(uint32_t crc, const char* data, size_t size)
{
    return crc32_gzip_refl(crc, reinterpret_cast<const unsigned char*>(data), size);
}
}  // namespace

// Inflates a part itself from its raw (compressed) bytes with ISA-L, which inflates XML two to
// three times faster than zlib and keeps the CRC-32 of what it wrote on the way; the checks
// stay in one place. Methods other than stored and deflated go through libzip.
class ZipStream::Inflater {
public:
    Inflater(const ZipArchive& archive, uint64_t index) : m_archive(archive), m_index(index)
    {
        std::lock_guard lock(archive.m_lock);
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(archive.m_zip, index, 0, &st) != 0)
            archive.fail("the zip directory is damaged", index);
        if ((st.valid & ZIP_STAT_ENCRYPTION_METHOD) && st.encryption_method != ZIP_EM_NONE)
            archive.fail("the workbook is password-protected", index);
        const uint64_t compressed = (st.valid & ZIP_STAT_COMP_SIZE) ? st.comp_size : 0;
        m_cap = std::min<uint64_t>(kAbsoluteCap, compressed * kMaxRatio + kRatioSlack);
        if (st.valid & ZIP_STAT_SIZE)
            m_statedSize = st.size;
        if (st.valid & ZIP_STAT_CRC)
            m_statedCrc = st.crc;
        m_method = (st.valid & ZIP_STAT_COMP_METHOD) ? st.comp_method : ZIP_CM_DEFLATE;
        const bool raw = m_method == ZIP_CM_DEFLATE || m_method == ZIP_CM_STORE;
        m_file = zip_fopen_index(archive.m_zip, index, raw ? ZIP_FL_COMPRESSED : 0);
        if (!m_file)
            archive.fail(std::string("a part cannot be unpacked (") + zip_strerror(archive.m_zip) + ")", index);
        if (m_method == ZIP_CM_DEFLATE) {
            m_inflating = true;
            m_state = std::make_unique<inflate_state>();
            isal_inflate_init(m_state.get());
            m_state->crc_flag = ISAL_GZIP_NO_HDR;  // raw deflate, CRC-32 of the output kept
            m_inputSize = static_cast<size_t>(std::clamp<uint64_t>(compressed, 1024, kInput));
            m_input.reset(new char[m_inputSize]);
        }
    }

    ~Inflater()
    {
        std::lock_guard lock(m_archive.m_lock);
        zip_fclose(m_file);
    }

    // Reads up to `size` bytes; 0 at the end, after the checks.
    size_t read(char* buffer, size_t size)
    {
        if (m_done || size == 0)
            return 0;
        size_t n = m_inflating ? inflateSome(buffer, size) : readRaw(buffer, size);
        if (n == 0) {
            finish();
            return 0;
        }
        m_total += n;
        if (m_total > m_cap)
            m_archive.fail("a part unpacks to far more data than its packed size allows (a zip bomb?)", m_index);
        if (m_checkCrc && !m_inflating)
            m_crc = crc32Of(m_crc, buffer, n);
        return n;
    }

private:
    static constexpr size_t kInput = size_t(128) << 10;

    size_t readRaw(char* buffer, size_t size)
    {
        std::lock_guard lock(m_archive.m_lock);
        const zip_int64_t n = zip_fread(m_file, buffer, size);
        if (n < 0)
            m_archive.fail(std::string("a part is damaged (") + zip_file_strerror(m_file) + ")", m_index);
        if (m_method != ZIP_CM_STORE)
            m_checkCrc = false;  // libzip checked it
        return static_cast<size_t>(n);
    }

    size_t inflateSome(char* buffer, size_t size)
    {
        inflate_state& z = *m_state;
        z.next_out = reinterpret_cast<uint8_t*>(buffer);
        z.avail_out = static_cast<uint32_t>(std::min<size_t>(size, 1u << 30));
        while (z.avail_out > 0 && !m_streamEnd) {
            if (z.avail_in == 0 && !m_inputEnd) {
                std::lock_guard lock(m_archive.m_lock);
                const zip_int64_t n = zip_fread(m_file, m_input.get(), m_inputSize);
                if (n < 0)
                    m_archive.fail(std::string("a part is damaged (") + zip_file_strerror(m_file) + ")", m_index);
                m_inputEnd = n == 0;
                z.next_in = reinterpret_cast<uint8_t*>(m_input.get());
                z.avail_in = static_cast<uint32_t>(n);
            }
            const uint32_t inBefore = z.avail_in, outBefore = z.avail_out;
            if (isal_inflate(&z) < 0 || (inBefore > 0 && z.avail_in == inBefore && z.avail_out == outBefore))
                m_archive.fail("a part is damaged (its compressed data is invalid)", m_index);
            if (z.block_state == ISAL_BLOCK_FINISH)
                m_streamEnd = true;
            // Bits still held inside the inflater may yet give output once the input is
            // gone; a call that can take no input and gives nothing means the data ends early.
            else if (m_inputEnd && inBefore == 0 && z.avail_out == outBefore)
                m_archive.fail("a part is cut short", m_index);
        }
        m_crc = z.crc;
        return size - z.avail_out;
    }

    void finish()
    {
        m_done = true;
        if (m_statedSize && m_total != *m_statedSize)
            m_archive.fail("a part is damaged (its size does not match the zip directory)", m_index);
        if (m_checkCrc && m_statedCrc && m_crc != *m_statedCrc)
            m_archive.fail("a part is damaged (its checksum does not match)", m_index);
    }

    const ZipArchive& m_archive;
    uint64_t m_index;
    ::zip_file* m_file = nullptr;
    uint16_t m_method = ZIP_CM_STORE;
    bool m_inflating = false;
    bool m_streamEnd = false;
    bool m_inputEnd = false;
    bool m_done = false;
    bool m_checkCrc = true;
    std::unique_ptr<inflate_state> m_state;  // about 40 KB of tables: on the heap
    std::unique_ptr<char[]> m_input;
    size_t m_inputSize = 0;
    uint64_t m_total = 0;
    uint64_t m_cap = 0;
    uint32_t m_crc = 0;
    std::optional<uint64_t> m_statedSize;
    std::optional<uint32_t> m_statedCrc;
};

// Inflates ahead of the reader in a thread of its own, a few blocks at most.
class ZipStream::Prefetch {
public:
    explicit Prefetch(Inflater& inflater) : m_inflater(inflater)
    {
        m_thread = std::thread([this] { run(); });
    }

    ~Prefetch()
    {
        m_handOff.stop();
        m_thread.join();
    }

    size_t read(char* buffer, size_t size)
    {
        if (m_offset == m_current.size) {
            if (!m_handOff.pop(m_current))
                return 0;
            m_offset = 0;
        }
        const size_t n = std::min(size, m_current.size - m_offset);
        std::memcpy(buffer, m_current.data.get() + m_offset, n);
        m_offset += n;
        return n;
    }

private:
    static constexpr size_t kBlock = size_t(256) << 10;
    static constexpr size_t kWaiting = 4;  // blocks inflated ahead of the reader
    struct Block {
        std::unique_ptr<char[]> data;
        size_t size = 0;
    };

    void run()
    {
        try {
            Block block;
            for (;;) {
                if (!block.data)
                    block.data.reset(new char[kBlock]);
                block.size = 0;
                while (block.size < kBlock) {
                    const size_t n = m_inflater.read(block.data.get() + block.size, kBlock - block.size);
                    if (n == 0)
                        break;
                    block.size += n;
                }
                const bool last = block.size < kBlock;
                if (block.size > 0 && !m_handOff.push(block))
                    return;  // the reader is gone
                if (last)
                    break;
            }
            m_handOff.finish();
        } catch (...) {
            m_handOff.finish(std::current_exception());
        }
    }

    Inflater& m_inflater;
    HandOff<Block> m_handOff{kWaiting};
    Block m_current;
    size_t m_offset = 0;
    std::thread m_thread;  // last: started once everything above exists
};

std::string ZipArchive::readAll(uint64_t index, uint64_t cap) const
{
    // Inflated straight into the result, sized from the directory's stated size where that
    // is within the caps (a lie costs a reallocation, never an outsized allocation).
    uint64_t expected = 0;
    {
        std::lock_guard lock(m_lock);
        zip_stat_t st;
        zip_stat_init(&st);
        if (zip_stat_index(m_zip, index, 0, &st) == 0 && (st.valid & ZIP_STAT_SIZE) && (st.valid & ZIP_STAT_COMP_SIZE))
            expected = std::min<uint64_t>({st.size, cap, kAbsoluteCap, st.comp_size * kMaxRatio + kRatioSlack});
    }
    auto s = stream(index);
    std::string out;
    // One byte over the expected size, so that the end of the part is seen in the same pass.
    out.resize(static_cast<size_t>(std::max<uint64_t>(expected + 1, 4096)));
    size_t filled = 0;
    for (;;) {
        if (filled == out.size())
            out.resize(static_cast<size_t>(std::min<uint64_t>(uint64_t(out.size()) * 2, cap + 1)));
        const size_t n = s->read(out.data() + filled, out.size() - filled);
        if (n == 0)
            break;
        filled += n;
        if (filled > cap)
            fail("a part is larger than this program accepts", index);
    }
    out.resize(filled);
    return out;
}

std::unique_ptr<ZipStream> ZipArchive::stream(uint64_t index, bool background) const
{
    return std::unique_ptr<ZipStream>(new ZipStream(*this, index, background));
}

ZipStream::ZipStream(const ZipArchive& archive, uint64_t index, bool background)
    : m_inflater(std::make_unique<Inflater>(archive, index))
{
    if (background)
        m_prefetch = std::make_unique<Prefetch>(*m_inflater);
}

ZipStream::~ZipStream()
{
    m_prefetch.reset();  // stops the thread before the inflater goes
}

size_t ZipStream::read(char* buffer, size_t size)
{
    const size_t n = m_prefetch ? m_prefetch->read(buffer, size) : m_inflater->read(buffer, size);
    m_total += n;
    return n;
}

}  // namespace tabulon::engine

#include "Zip.h"

#include <algorithm>
#include <cctype>
#include <cstring>
#include <exception>
#include <fstream>
#include <thread>

#include "../Error.h"
#include "../HandOff.h"
#include "../platform/Inflate.h"
#include "ZipDirectory.h"

namespace tabulon::engine {
namespace {
// XML parts compress well, but not beyond a few hundred to one in real files; deflate's
// ceiling is about a thousand to one, which only a bomb reaches.
constexpr uint64_t kMaxRatio = 400;
constexpr uint64_t kRatioSlack = uint64_t(1) << 20;
constexpr uint64_t kAbsoluteCap = uint64_t(4) << 30;
// While a part inflates, its output so far is held to the same ratio against the packed bytes
// read so far, with more slack (the start of a real sheet may pack better than the whole):
// a uniform bomb then stops after about 26 MB instead of at its part's cap.
constexpr uint64_t kRunningSlack = uint64_t(16) << 20;
// The whole package: the readers may inflate a sheet up to three times (measure, write, sort),
// so the budget is three times what its packed bytes may hold, and never more than this.
constexpr uint64_t kPackagePasses = 3;
constexpr uint64_t kPackageCap = uint64_t(16) << 30;

// The lookup key of a part name: lower case, with the backslashes some Windows tools write.
std::string lower(std::string_view s)
{
    std::string out(s);
    for (char& c : out)
        c = c == '\\' ? '/' : static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
    return out;
}

constexpr uint16_t kStored = 0;
constexpr uint16_t kDeflated = 8;
}  // namespace

ZipArchive::ZipArchive() = default;
ZipArchive::~ZipArchive() = default;

void ZipArchive::open(const std::function<std::unique_ptr<ZipDirectory>()>& opener)
{
    try {
        m_directory = opener();
    } catch (const ZipDirectoryError& e) {
        fail(e.what());
    }
}

std::unique_ptr<ZipArchive> ZipArchive::openFile(const std::filesystem::path& file)
{
    std::unique_ptr<ZipArchive> archive(new ZipArchive);
    archive->m_displayName = file.string();
    archive->open([&] { return ZipDirectory::openFile(file); });
    std::ifstream in(file, std::ios::binary | std::ios::ate);
    const auto end = in.tellg();
    if (!in || end < 0)
        archive->fail("the zip package cannot be opened (it cannot be read)");
    archive->index(
        [](const void* context, uint64_t offset, void* buffer, size_t size) {
            auto& stream = *static_cast<std::ifstream*>(const_cast<void*>(context));
            stream.clear();
            stream.seekg(static_cast<std::streamoff>(offset));
            stream.read(static_cast<char*>(buffer), static_cast<std::streamsize>(size));
            return stream.gcount() == static_cast<std::streamsize>(size);
        },
        &in, static_cast<uint64_t>(end));
    return archive;
}

std::unique_ptr<ZipArchive> ZipArchive::openMemory(const void* data, size_t size, std::string displayName)
{
    std::unique_ptr<ZipArchive> archive(new ZipArchive);
    archive->m_displayName = std::move(displayName);
    archive->open([&] { return ZipDirectory::openMemory(data, size); });
    struct Bytes {
        const char* data;
        size_t size;
    } bytes{static_cast<const char*>(data), size};
    archive->index(
        [](const void* context, uint64_t offset, void* buffer, size_t n) {
            const auto& b = *static_cast<const Bytes*>(context);
            if (offset > b.size || n > b.size - offset)
                return false;
            std::memcpy(buffer, b.data + offset, n);
            return true;
        },
        &bytes, size);
    return archive;
}

void ZipArchive::index(ReadAt readAt, const void* context, uint64_t packageSize)
{
    requireDisjointParts(readAt, context, packageSize);
    const auto& entries = m_directory->entries();
    const size_t count = entries.size();
    uint64_t packed = 0;
    for (const auto& entry : entries)
        packed += std::min<uint64_t>(entry.packedSize, packageSize);
    const uint64_t slack = kRatioSlack * std::clamp<uint64_t>(static_cast<uint64_t>(count), 1, 16);
    m_inflateBudget = std::min(kPackageCap, kPackagePasses * (std::min(packed, packageSize) * kMaxRatio + slack));
    for (size_t i = 0; i < count; ++i) {
        if (!entries[i].name)
            continue;
        std::string_view n(*entries[i].name);
        while (!n.empty() && (n.front() == '/' || n.front() == '\\'))
            n.remove_prefix(1);
        m_lowerNames.emplace_back(lower(n), static_cast<uint64_t>(i));
    }
    std::stable_sort(m_lowerNames.begin(), m_lowerNames.end(),
                     [](const auto& a, const auto& b) { return a.first < b.first; });
}

namespace {
uint16_t le16(const unsigned char* p)
{
    return static_cast<uint16_t>(p[0] | p[1] << 8);
}

uint32_t le32(const unsigned char* p)
{
    return static_cast<uint32_t>(le16(p)) | static_cast<uint32_t>(le16(p + 2)) << 16;
}

uint64_t le64(const unsigned char* p)
{
    return static_cast<uint64_t>(le32(p)) | static_cast<uint64_t>(le32(p + 4)) << 32;
}
}  // namespace

// libzip does not tell where a part's data lies, so the central directory is walked here once
// more for the local header offsets: two directory entries pointing at the same (or
// overlapping) data would let a small file inflate the same bytes under a thousand names.
void ZipArchive::requireDisjointParts(ReadAt readAt, const void* context, uint64_t packageSize)
{
    const std::string damaged = "the file is damaged (its zip directory cannot be read)";
    const auto expected = static_cast<int64_t>(m_directory->entries().size());
    if (expected <= 0)
        return;
    // The end record: the last signature in the final 64 KiB that its comment length fits.
    const uint64_t tailSize = std::min<uint64_t>(packageSize, 65535 + 22);
    std::vector<unsigned char> tail(tailSize);
    if (!readAt(context, packageSize - tailSize, tail.data(), tail.size()))
        fail(damaged);
    size_t end = std::string::npos;
    for (size_t i = tail.size() >= 22 ? tail.size() - 22 + 1 : 0; i-- > 0;)
        if (le32(&tail[i]) == 0x06054b50 && i + 22 + le16(&tail[i + 20]) <= tail.size()) {
            end = i;
            break;
        }
    if (end == std::string::npos)
        fail(damaged);
    uint64_t entries = le16(&tail[end + 10]);
    uint64_t directorySize = le32(&tail[end + 12]);
    uint64_t directoryOffset = le32(&tail[end + 16]);
    const uint64_t endOffset = packageSize - tailSize + end;
    uint64_t directoryEnd = endOffset;  // where the directory ends if nothing precedes the package
    if (endOffset >= 20 && (entries == 0xFFFF || directorySize == 0xFFFFFFFF || directoryOffset == 0xFFFFFFFF)) {
        unsigned char locator[20];
        unsigned char record[56];
        auto recordAt = [&](uint64_t offset) {
            return offset < endOffset && readAt(context, offset, record, sizeof record) && le32(record) == 0x06064b50;
        };
        if (readAt(context, endOffset - 20, locator, sizeof locator) && le32(locator) == 0x07064b50) {
            uint64_t recordOffset = le64(locator + 8);
            if (!recordAt(recordOffset) && endOffset >= 20 + sizeof record)
                recordOffset = endOffset - 20 - sizeof record;
            if (recordAt(recordOffset)) {
                entries = le64(record + 32);
                directorySize = le64(record + 40);
                directoryOffset = le64(record + 48);
                directoryEnd = recordOffset;
            }
        }
    }
    if (entries != static_cast<uint64_t>(expected) || directorySize > directoryEnd)
        fail(damaged);
    // Some writers put data before the package (self-extractors), so the directory may lie
    // later than it says; only the positions of the parts relative to each other count here.
    const uint64_t directoryStart = directoryEnd - directorySize;
    std::vector<unsigned char> directory(directorySize);
    if (!readAt(context, directoryStart, directory.data(), directory.size()))
        fail(damaged);
    const int64_t shift = static_cast<int64_t>(directoryStart) - static_cast<int64_t>(directoryOffset);

    struct Extent {
        uint64_t start, end;
    };
    std::vector<Extent> extents;
    extents.reserve(entries);
    size_t at = 0;
    for (uint64_t e = 0; e < entries; ++e) {
        if (at + 46 > directory.size() || le32(&directory[at]) != 0x02014b50)
            fail(damaged);
        const unsigned char* h = &directory[at];
        uint64_t packed = le32(h + 20);
        uint64_t unpacked = le32(h + 24);
        const size_t nameLength = le16(h + 28), extraLength = le16(h + 30), commentLength = le16(h + 32);
        uint64_t offset = le32(h + 42);
        if (at + 46 + nameLength + extraLength + commentLength > directory.size())
            fail(damaged);
        // The 64-bit values of the Zip64 extra field, in the order of the fields they replace.
        for (size_t x = at + 46 + nameLength; x + 4 <= at + 46 + nameLength + extraLength;) {
            const uint16_t id = le16(&directory[x]), length = le16(&directory[x + 2]);
            if (x + 4 + length > at + 46 + nameLength + extraLength)
                break;
            if (id == 0x0001) {
                size_t v = x + 4;
                auto take = [&](uint64_t& field, uint64_t marker) {
                    if (field == marker && v + 8 <= x + 4 + length) {
                        field = le64(&directory[v]);
                        v += 8;
                    }
                };
                take(unpacked, 0xFFFFFFFF);
                take(packed, 0xFFFFFFFF);
                take(offset, 0xFFFFFFFF);
            }
            x += 4 + length;
        }
        const int64_t start = static_cast<int64_t>(offset) + shift;
        if (start < 0 || static_cast<uint64_t>(start) > packageSize || packed > packageSize)
            fail(damaged);
        // The local header is at least 30 bytes and the name; its extra field is not counted,
        // so only real overlaps are refused.
        extents.push_back({static_cast<uint64_t>(start), static_cast<uint64_t>(start) + 30 + nameLength + packed});
        at += 46 + nameLength + extraLength + commentLength;
    }
    std::sort(extents.begin(), extents.end(), [](const Extent& a, const Extent& b) { return a.start < b.start; });
    for (size_t i = 1; i < extents.size(); ++i)
        if (extents[i].start < extents[i - 1].end)
            fail("the file is damaged (two parts share their data)");
}

void ZipArchive::chargeInflated(uint64_t bytes, uint64_t index) const
{
    const uint64_t total = m_inflated.fetch_add(bytes, std::memory_order_relaxed) + bytes;
    if (total > m_inflateBudget)
        fail("its parts unpack to far more data than the package's size allows (a zip bomb?)", index);
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
    for (const auto& entry : m_directory->entries())
        if (entry.name)
            out.push_back(*entry.name);
    return out;
}

std::string ZipArchive::partName(uint64_t index) const
{
    const auto& entries = m_directory->entries();
    return index < entries.size() && entries[index].name ? *entries[index].name : "?";
}

bool ZipArchive::isEncrypted(uint64_t index) const
{
    const auto& entries = m_directory->entries();
    return index < entries.size() && entries[index].encrypted;
}

void ZipArchive::fail(const std::string& what, std::optional<uint64_t> part) const
{
    throw Error(describe(m_displayName, part ? what + " (part " + partName(*part) + ")" : what));
}

uint64_t ZipArchive::statedSize(uint64_t index) const
{
    const auto& entries = m_directory->entries();
    return index < entries.size() ? entries[index].size.value_or(0) : 0;
}

// Inflates a part itself from its raw (compressed) bytes with the platform's inflater, which
// keeps the CRC-32 of what it wrote on the way; the checks stay in one place. Methods other
// than stored and deflated go through the zip directory's library.
class ZipStream::Inflater {
public:
    Inflater(const ZipArchive& archive, uint64_t index) : m_archive(archive), m_index(index)
    {
        std::lock_guard lock(archive.m_lock);
        const auto& entries = archive.m_directory->entries();
        if (index >= entries.size())
            archive.fail("the zip directory is damaged", index);
        const ZipEntry& entry = entries[index];
        if (entry.encrypted)
            archive.fail("the workbook is password-protected", index);
        const uint64_t compressed = entry.packedSize;
        m_cap = std::min<uint64_t>(kAbsoluteCap, compressed * kMaxRatio + kRatioSlack);
        m_statedSize = entry.size;
        m_statedCrc = entry.crc;
        m_method = entry.method;
        const bool raw = m_method == kDeflated || m_method == kStored;
        try {
            m_file = archive.m_directory->open(index, raw);
        } catch (const ZipDirectoryError& e) {
            archive.fail(e.what(), index);
        }
        if (m_method == kDeflated) {
            m_inflating = true;
            m_state = platform::RawInflater::create();
            m_inputSize = static_cast<size_t>(std::clamp<uint64_t>(compressed, 1024, kInput));
            m_input.reset(new char[m_inputSize]);
        }
    }

    ~Inflater()
    {
        std::lock_guard lock(m_archive.m_lock);
        m_file.reset();
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
        if (m_total > m_cap || (m_inflating && m_total > consumed() * kMaxRatio + kRunningSlack))
            m_archive.fail("a part unpacks to far more data than its packed size allows (a zip bomb?)", m_index);
        m_archive.chargeInflated(n, m_index);
        if (m_checkCrc && !m_inflating)
            m_crc = platform::crc32(m_crc, buffer, n);
        return n;
    }

private:
    static constexpr size_t kInput = size_t(128) << 10;

    // Packed bytes the inflater has taken so far.
    uint64_t consumed() const { return m_fetched - m_state->pendingInput(); }

    size_t readPart(char* buffer, size_t size)
    {
        std::lock_guard lock(m_archive.m_lock);
        try {
            return m_file->read(buffer, size);
        } catch (const ZipDirectoryError& e) {
            m_archive.fail(e.what(), m_index);
        }
    }

    size_t readRaw(char* buffer, size_t size)
    {
        const size_t n = readPart(buffer, size);
        if (m_method != kStored)
            m_checkCrc = false;  // the library checked it
        return n;
    }

    size_t inflateSome(char* buffer, size_t size)
    {
        platform::RawInflater& z = *m_state;
        size_t produced = 0;
        while (produced < size && !m_streamEnd) {
            if (z.pendingInput() == 0 && !m_inputEnd) {
                const size_t n = readPart(m_input.get(), m_inputSize);
                m_inputEnd = n == 0;
                m_fetched += n;
                z.setInput(m_input.get(), n);
            }
            const size_t inBefore = z.pendingInput();
            size_t written = 0;
            const auto status = z.inflate(buffer + produced, size - produced, written);
            produced += written;
            if (status == platform::RawInflater::Status::Invalid || (inBefore > 0 && z.pendingInput() == inBefore && written == 0))
                m_archive.fail("a part is damaged (its compressed data is invalid)", m_index);
            if (status == platform::RawInflater::Status::End)
                m_streamEnd = true;
            // Bits still held inside the inflater may yet give output once the input is
            // gone; a call that can take no input and gives nothing means the data ends early.
            else if (m_inputEnd && inBefore == 0 && written == 0)
                m_archive.fail("a part is cut short", m_index);
        }
        m_crc = z.crc();
        return produced;
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
    std::unique_ptr<ZipMemberReader> m_file;
    uint16_t m_method = kStored;
    bool m_inflating = false;
    bool m_streamEnd = false;
    bool m_inputEnd = false;
    bool m_done = false;
    bool m_checkCrc = true;
    std::unique_ptr<platform::RawInflater> m_state;
    std::unique_ptr<char[]> m_input;
    size_t m_inputSize = 0;
    uint64_t m_total = 0;
    uint64_t m_fetched = 0;  // packed bytes read so far
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
    // is within the caps (a lie costs a reallocation, never an outsized allocation). A bomb
    // stops after some tens of megabytes, so no more than that is set aside before inflating.
    uint64_t expected = 0;
    {
        const auto& entries = m_directory->entries();
        if (index < entries.size() && entries[index].size)
            expected = std::min<uint64_t>({*entries[index].size, cap, kAbsoluteCap,
                                           entries[index].packedSize * kMaxRatio + kRatioSlack, kRunningSlack * 4});
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

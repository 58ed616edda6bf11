#include "Cfb.h"

#include <algorithm>
#include <cstring>

#include "../Error.h"
#include "ByteCursor.h"
#include "../platform/File.h"
#include "Utf.h"

namespace tabulon::engine {
namespace {
constexpr uint32_t kEndOfChain = 0xFFFFFFFE;
constexpr uint32_t kNoStream = 0xFFFFFFFF;
constexpr uint8_t kSignature[8] = {0xD0, 0xCF, 0x11, 0xE0, 0xA1, 0xB1, 0x1A, 0xE1};
constexpr size_t kHeaderDifat = 109;
constexpr size_t kEntrySize = 128;

// Directory names are UTF-16 up to a NUL; only their comparison and messages need them.
std::string utf16Name(const ByteCursor& entry, size_t units)
{
    size_t length = 0;
    while (length < units && entry.u16At(2 * length) != 0)
        ++length;
    std::string out;
    appendUtf16(entry.data(), length, out);
    return out;
}

bool sameName(std::string_view a, std::string_view b)
{
    return a.size() == b.size() && std::equal(a.begin(), a.end(), b.begin(), [](char x, char y) {
               auto lower = [](char c) { return c >= 'A' && c <= 'Z' ? static_cast<char>(c + 32) : c; };
               return lower(x) == lower(y);
           });
}
}  // namespace

std::shared_ptr<const FileBytes> FileBytes::open(const std::filesystem::path& file, const std::string& displayName)
{
    std::shared_ptr<FileBytes> bytes(new FileBytes);
    bytes->m_displayName = displayName;
    try {
        bytes->m_file = platform::InputFile::open(file);
    } catch (const platform::SystemError&) {
        throw Error(describe(displayName, "the file cannot be opened"));
    }
    bytes->m_size = bytes->m_file->size();
    return bytes;
}

std::shared_ptr<const FileBytes> FileBytes::borrow(const void* data, size_t size)
{
    std::shared_ptr<FileBytes> bytes(new FileBytes);
    bytes->m_data = static_cast<const uint8_t*>(data);
    bytes->m_size = size;
    return bytes;
}

std::shared_ptr<const FileBytes> FileBytes::own(std::string data)
{
    std::shared_ptr<FileBytes> bytes(new FileBytes);
    bytes->m_owned = std::move(data);
    bytes->m_data = reinterpret_cast<const uint8_t*>(bytes->m_owned.data());
    bytes->m_size = bytes->m_owned.size();
    return bytes;
}

FileBytes::~FileBytes() = default;

size_t FileBytes::read(uint64_t offset, void* out, size_t n) const
{
    if (offset >= m_size)
        return 0;
    n = static_cast<size_t>(std::min<uint64_t>(n, m_size - offset));
    if (m_data) {
        std::memcpy(out, m_data + offset, n);
        return n;
    }
    auto* dst = static_cast<uint8_t*>(out);
    size_t done = 0;
    while (done < n) {
        const uint64_t at = offset + done;
        if (at < m_windowStart || at >= m_windowStart + m_windowLength) {
            constexpr size_t kWindow = size_t(256) << 10;
            m_window.resize(kWindow);
            m_windowStart = at & ~uint64_t(4095);
            m_windowLength = 0;
            while (m_windowLength < kWindow && m_windowStart + m_windowLength < m_size) {
                size_t got = 0;
                try {
                    got = m_file->readAt(m_windowStart + m_windowLength, m_window.data() + m_windowLength,
                                         kWindow - m_windowLength);
                } catch (const platform::SystemError&) {
                }
                if (got == 0)
                    throw Error(describe(m_displayName, "the file cannot be read"));
                m_windowLength += got;
            }
            if (at >= m_windowStart + m_windowLength)
                break;
        }
        const size_t within = static_cast<size_t>(at - m_windowStart);
        const size_t take = std::min(n - done, m_windowLength - within);
        std::memcpy(dst + done, m_window.data() + within, take);
        done += take;
    }
    return done;
}

ByteStream ByteStream::whole(std::shared_ptr<const FileBytes> file)
{
    ByteStream s;
    s.append(0, file->size());
    s.m_file = std::move(file);
    return s;
}

void ByteStream::append(uint64_t fileOffset, uint64_t length)
{
    if (length == 0)
        return;
    if (!m_runs.empty() && m_runs.back().fileOffset + m_runs.back().length == fileOffset)
        m_runs.back().length += length;
    else
        m_runs.push_back({m_size, fileOffset, length});
    m_size += length;
}

size_t ByteStream::read(uint64_t offset, void* out, size_t n) const
{
    if (offset >= m_size || m_runs.empty())
        return 0;
    size_t r = m_lastRun < m_runs.size() ? m_lastRun : 0;
    if (m_runs[r].offset > offset || m_runs[r].offset + m_runs[r].length <= offset) {
        auto it = std::upper_bound(m_runs.begin(), m_runs.end(), offset,
                                   [](uint64_t o, const Run& run) { return o < run.offset; });
        r = static_cast<size_t>(it - m_runs.begin()) - 1;
    }
    auto* dst = static_cast<uint8_t*>(out);
    size_t done = 0;
    while (done < n && r < m_runs.size()) {
        const Run& run = m_runs[r];
        const uint64_t within = offset + done - run.offset;
        const size_t take = static_cast<size_t>(std::min<uint64_t>(n - done, run.length - within));
        const size_t got = m_file->read(run.fileOffset + within, dst + done, take);
        done += got;
        if (got < take)
            break;
        if (done < n)
            ++r;
    }
    m_lastRun = std::min(r, m_runs.size() - 1);
    return done;
}

bool CompoundFile::hasSignature(const FileBytes& file)
{
    uint8_t head[8];
    return file.read(0, head, 8) == 8 && std::memcmp(head, kSignature, 8) == 0;
}

void CompoundFile::fail(const std::string& what) const
{
    throw Error(describe(m_displayName, "the file is damaged (" + what + ")"));
}

size_t CompoundFile::sector(uint32_t index, std::vector<uint8_t>& out) const
{
    const size_t size = size_t(1) << m_sectorShift;
    out.resize(size);
    // A file cut inside its last sector keeps what is there.
    return m_file->read((uint64_t(index) + 1) << m_sectorShift, out.data(), size);
}

std::vector<uint32_t> CompoundFile::chain(const std::vector<uint32_t>& table, uint32_t start, uint64_t maxSectors) const
{
    std::vector<uint32_t> out;
    std::vector<bool> seen(table.size(), false);
    uint32_t cur = start;
    while (cur != kEndOfChain && out.size() < maxSectors) {
        if (cur >= table.size())
            fail("a sector chain points outside the file");
        if (seen[cur])
            fail("a sector chain loops");
        seen[cur] = true;
        out.push_back(cur);
        cur = table[cur];
    }
    return out;
}

CompoundFile::CompoundFile(std::shared_ptr<const FileBytes> file, std::string displayName)
    : m_file(std::move(file)), m_displayName(std::move(displayName))
{
    uint8_t headerBytes[512];
    const uint64_t fileSize = m_file->size();
    if (m_file->read(0, headerBytes, sizeof headerBytes) < sizeof headerBytes || !hasSignature(*m_file))
        fail("it is too short to be a compound file");
    const ByteCursor h(headerBytes, sizeof headerBytes, m_displayName, "the compound file header");
    m_sectorShift = h.u16At(30);
    if (m_sectorShift != 9 && m_sectorShift != 12)
        fail("unknown sector size");
    if (h.u16At(32) != 6)
        fail("unknown mini sector size");
    const uint32_t sectorSize = 1u << m_sectorShift;
    const uint64_t fileSectors = fileSize >> m_sectorShift;
    const uint32_t perSector = sectorSize / 4;

    // The FAT sectors: 109 listed in the header, the rest in the DIFAT chain.
    const uint32_t fatSectors = h.u32At(44);
    if (fatSectors > fileSectors)
        fail("the sector table is larger than the file");
    std::vector<uint32_t> fatList;
    for (size_t i = 0; i < kHeaderDifat && fatList.size() < fatSectors; ++i)
        fatList.push_back(h.u32At(76 + 4 * i));
    uint32_t difat = h.u32At(68);
    uint64_t difatSeen = 0;
    std::vector<uint8_t> buf;
    while (fatList.size() < fatSectors && difat < kEndOfChain - 3) {
        if (++difatSeen > fileSectors)
            fail("the sector table list loops");
        if (sector(difat, buf) < sectorSize)
            fail("the sector table list lies beyond the end of the file");
        const ByteCursor s(buf.data(), sectorSize, m_displayName, "the sector table list");
        for (uint32_t i = 0; i + 1 < perSector && fatList.size() < fatSectors; ++i)
            fatList.push_back(s.u32At(4 * i));
        difat = s.u32At(4 * (perSector - 1));
    }
    if (fatList.size() < fatSectors)
        fail("the sector table list is incomplete");
    m_fat.reserve(size_t(fatSectors) * perSector);
    for (uint32_t index : fatList) {
        const size_t length = index < kEndOfChain - 3 ? sector(index, buf) : 0;
        if (length == 0)
            fail("the sector table lies beyond the end of the file");
        const ByteCursor s(buf.data(), length, m_displayName, "the sector table");
        for (size_t i = 0; i < perSector; ++i)
            m_fat.push_back(4 * i + 4 <= length ? s.u32At(4 * i) : kEndOfChain);
    }

    // The directory: 128-byte entries in a chain of their own.
    const std::vector<uint32_t> dirChain = chain(m_fat, h.u32At(48), fileSectors + 1);
    for (uint32_t index : dirChain) {
        const size_t length = sector(index, buf);
        if (length == 0)
            fail("the directory lies beyond the end of the file");
        for (size_t off = 0; off + kEntrySize <= length; off += kEntrySize) {
            const ByteCursor e(buf.data() + off, kEntrySize, m_displayName, "the directory");
            Entry entry;
            const uint16_t nameBytes = std::min<uint16_t>(e.u16At(64), 64);
            entry.name = utf16Name(e, nameBytes / 2);
            entry.type = e.data()[66];
            entry.left = e.u32At(68);
            entry.right = e.u32At(72);
            entry.child = e.u32At(76);
            entry.start = e.u32At(116);
            entry.size = e.u32At(120);
            if (m_sectorShift == 12)
                entry.size |= uint64_t(e.u32At(124)) << 32;  // version 3 files leave junk there
            m_entries.push_back(std::move(entry));
        }
    }
    if (m_entries.empty() || m_entries[0].type != 5)
        fail("it has no root directory entry");

    m_miniCutoff = h.u32At(56);
    m_firstMiniFat = h.u32At(60);
    m_miniFatSectors = h.u32At(64);
}

ByteStream CompoundFile::regularStream(uint32_t start, uint64_t size) const
{
    const uint32_t sectorSize = 1u << m_sectorShift;
    ByteStream s;
    s.m_file = m_file;
    if (size == 0)
        return s;
    const uint64_t wanted = (size + sectorSize - 1) >> m_sectorShift;
    for (uint32_t index : chain(m_fat, start, wanted)) {
        const uint64_t offset = (uint64_t(index) + 1) << m_sectorShift;
        if (offset >= m_file->size())
            break;  // the file was cut short: keep what there is
        const uint64_t length = std::min<uint64_t>(sectorSize, m_file->size() - offset);
        s.append(offset, std::min<uint64_t>(length, size - s.m_size));
        if (length < sectorSize)
            break;
    }
    return s;
}

std::vector<size_t> CompoundFile::rootChildren() const
{
    std::vector<size_t> out;
    std::vector<bool> seen(m_entries.size(), false);
    std::vector<uint32_t> stack{m_entries[0].child};
    while (!stack.empty()) {
        const uint32_t i = stack.back();
        stack.pop_back();
        if (i >= m_entries.size() || seen[i])
            continue;
        seen[i] = true;
        out.push_back(i);
        stack.push_back(m_entries[i].left);
        stack.push_back(m_entries[i].right);
    }
    return out;
}

std::optional<size_t> CompoundFile::findEntry(std::string_view name) const
{
    for (size_t i : rootChildren())
        if (m_entries[i].type == 2 && sameName(m_entries[i].name, name))
            return i;
    // A broken directory tree can hide a stream that is still listed: look at every entry.
    for (size_t i = 1; i < m_entries.size(); ++i)
        if (m_entries[i].type == 2 && sameName(m_entries[i].name, name))
            return i;
    return std::nullopt;
}

std::vector<std::string> CompoundFile::rootNames() const
{
    std::vector<std::string> out;
    for (size_t i : rootChildren())
        out.push_back(m_entries[i].name);
    return out;
}

std::optional<ByteStream> CompoundFile::stream(std::string_view name) const
{
    const auto index = findEntry(name);
    if (!index)
        return std::nullopt;
    const Entry& entry = m_entries[*index];
    const uint64_t size = std::min<uint64_t>(entry.size, m_file->size());
    if (size >= m_miniCutoff)
        return regularStream(entry.start, size);

    // Small streams live in 64-byte sectors inside the root entry's stream.
    if (!m_miniStream) {
        const Entry& root = m_entries[0];
        m_miniStream = regularStream(root.start, std::min<uint64_t>(root.size, m_file->size()));
        const uint64_t fileSectors = m_file->size() >> m_sectorShift;
        ByteStream miniFatBytes = regularStream(m_firstMiniFat, std::min<uint64_t>(uint64_t(m_miniFatSectors) << m_sectorShift,
                                                                                  fileSectors << m_sectorShift));
        m_miniFat.resize(static_cast<size_t>(miniFatBytes.size() / 4));
        miniFatBytes.read(0, m_miniFat.data(), m_miniFat.size() * 4);
    }
    std::string owned;
    for (uint32_t index : chain(m_miniFat, entry.start, (size + 63) / 64)) {
        char buf[64];
        const size_t got = m_miniStream->read(uint64_t(index) * 64, buf, 64);
        owned.append(buf, std::min<size_t>(got, static_cast<size_t>(size - owned.size())));
        if (got < 64)
            break;
    }
    ByteStream s;
    s.m_file = FileBytes::own(std::move(owned));
    s.append(0, s.m_file->size());
    return s;
}

}  // namespace tabulon::engine

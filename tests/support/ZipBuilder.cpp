#include "ZipBuilder.h"

#include <sys/resource.h>
#include <zip.h>
#include <isa-l.h>

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

namespace {
void put16(std::string& out, uint32_t v)
{
    out.push_back(static_cast<char>(v & 0xFF));
    out.push_back(static_cast<char>(v >> 8 & 0xFF));
}

void put32(std::string& out, uint32_t v)
{
    put16(out, v & 0xFFFF);
    put16(out, v >> 16);
}

struct RawPart {
    std::string name;
    std::string packed;  // raw deflate
    uint32_t crc = 0;
    uint64_t size = 0;  // below 4 GiB
};

// Raw deflate of `data`; with `flushOnly` the stream is left open after a full flush, so
// that copies of the result can follow each other.
std::string deflateRaw(std::string_view data, bool flushOnly = false)
{
    isal_zstream z;
    isal_deflate_init(&z);
    std::vector<uint8_t> levelBuffer(ISAL_DEF_LVL1_DEFAULT);
    z.level = 1;
    z.level_buf = levelBuffer.data();
    z.level_buf_size = static_cast<uint32_t>(levelBuffer.size());
    z.end_of_stream = flushOnly ? 0 : 1;
    z.flush = flushOnly ? FULL_FLUSH : NO_FLUSH;
    std::string out(data.size() + data.size() / 2 + 1024, '\0');
    z.next_in = reinterpret_cast<uint8_t*>(const_cast<char*>(data.data()));
    z.avail_in = static_cast<uint32_t>(data.size());
    z.next_out = reinterpret_cast<uint8_t*>(out.data());
    z.avail_out = static_cast<uint32_t>(out.size());
    if (isal_deflate(&z) != COMP_OK || z.avail_in != 0)
        throw std::runtime_error("isal_deflate failed");
    out.resize(out.size() - z.avail_out);
    return out;
}

RawPart deflatedPart(std::string name, std::string_view content)
{
    RawPart part{std::move(name), deflateRaw(content), 0, content.size()};
    part.crc = crc32_gzip_refl(0, reinterpret_cast<const unsigned char*>(content.data()), content.size());
    return part;
}

void localHeader(std::string& out, const RawPart& p)
{
    put32(out, 0x04034b50);
    put16(out, 20);
    put16(out, 0);
    put16(out, 8);  // deflated
    put32(out, 0);  // time and date
    put32(out, p.crc);
    put32(out, static_cast<uint32_t>(p.packed.size()));
    put32(out, static_cast<uint32_t>(p.size));
    put16(out, static_cast<uint32_t>(p.name.size()));
    put16(out, 0);
    out += p.name;
}

void directoryEntry(std::string& out, const RawPart& p, const std::string& name, uint32_t offset)
{
    put32(out, 0x02014b50);
    put16(out, 20);
    put16(out, 20);
    put16(out, 0);
    put16(out, 8);
    put32(out, 0);
    put32(out, p.crc);
    put32(out, static_cast<uint32_t>(p.packed.size()));
    put32(out, static_cast<uint32_t>(p.size));
    put16(out, static_cast<uint32_t>(name.size()));
    put32(out, 0);  // extra and comment lengths
    put32(out, 0);  // disk, internal attributes
    put32(out, 0);  // external attributes
    put32(out, offset);
    out += name;
}

void endRecord(std::string& out, size_t entries, size_t directoryStart)
{
    const size_t directorySize = out.size() - directoryStart;
    put32(out, 0x06054b50);
    put32(out, 0);
    put16(out, static_cast<uint32_t>(entries));
    put16(out, static_cast<uint32_t>(entries));
    put32(out, static_cast<uint32_t>(directorySize));
    put32(out, static_cast<uint32_t>(directoryStart));
    put16(out, 0);
}
}  // namespace

std::string sharedDataZip(const std::vector<std::string>& names, std::string_view content)
{
    const RawPart part = deflatedPart(names.at(0), content);
    std::string out;
    localHeader(out, part);
    out += part.packed;
    const size_t directoryStart = out.size();
    for (const auto& name : names)
        directoryEntry(out, part, name, 0);
    endRecord(out, names.size(), directoryStart);
    return out;
}

std::string uniformBombZip(const std::string& name, uint64_t inflatedSize,
                           const std::vector<std::pair<std::string, std::string>>& extra)
{
    constexpr size_t kChunk = size_t(1) << 20;
    const std::string zeros(kChunk, '\0');
    const std::string flushed = deflateRaw(zeros, true);
    // The checksum stays 0: no reader may get to the end of this part.
    RawPart bomb{name, {}, 0, inflatedSize};
    for (uint64_t done = 0; done < inflatedSize; done += kChunk)
        bomb.packed += flushed;
    bomb.packed += std::string("\x03\x00", 2);  // a final, empty fixed-Huffman block

    std::vector<RawPart> parts;
    for (const auto& [partName, content] : extra)
        parts.push_back(deflatedPart(partName, content));
    parts.push_back(std::move(bomb));
    std::string out;
    std::vector<uint32_t> offsets;
    for (const auto& p : parts) {
        offsets.push_back(static_cast<uint32_t>(out.size()));
        localHeader(out, p);
        out += p.packed;
    }
    const size_t directoryStart = out.size();
    for (size_t i = 0; i < parts.size(); ++i)
        directoryEntry(out, parts[i], parts[i].name, offsets[i]);
    endRecord(out, parts.size(), directoryStart);
    return out;
}

namespace {
uint64_t peakMemory()
{
    rusage usage{};
    getrusage(RUSAGE_SELF, &usage);
    return static_cast<uint64_t>(usage.ru_maxrss) * 1024;
}
}  // namespace

PeakMemoryGrowth::PeakMemoryGrowth() : m_start(peakMemory()) {}

uint64_t PeakMemoryGrowth::bytes() const
{
    const uint64_t now = peakMemory();
    return now > m_start ? now - m_start : 0;
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

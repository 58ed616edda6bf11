#include "XlsBuilder.h"

#include <nettle/arcfour.h>
#include <nettle/md5.h>

#include <cstring>
#include <stdexcept>

#include "xls/XlsCrypto.h"

namespace tabulon::test::xls {

std::string u16(uint16_t v) { return {static_cast<char>(v & 0xFF), static_cast<char>(v >> 8)}; }
std::string u32(uint32_t v) { return u16(static_cast<uint16_t>(v)) + u16(static_cast<uint16_t>(v >> 16)); }
std::string f64(double v)
{
    std::string s(8, '\0');
    std::memcpy(s.data(), &v, 8);
    return s;
}

std::string chars8(std::string_view latin1) { return std::string(1, '\0') + std::string(latin1); }

std::string record(uint16_t type, std::string_view body)
{
    return u16(type) + u16(static_cast<uint16_t>(body.size())) + std::string(body);
}

Record number(uint16_t row, uint16_t col, double v, uint16_t xf)
{
    return {0x0203, u16(row) + u16(col) + u16(xf) + f64(v)};
}
Record labelSst(uint16_t row, uint16_t col, uint32_t index, uint16_t xf)
{
    return {0x00FD, u16(row) + u16(col) + u16(xf) + u32(index)};
}

Record formula(uint16_t row, uint16_t col, std::string_view value8, uint16_t xf)
{
    // Options, cache and an empty parsed expression follow the value.
    return {0x0006, u16(row) + u16(col) + u16(xf) + std::string(value8) + u16(0) + u32(0) + u16(0)};
}

std::string formulaTagged(uint8_t type, uint8_t value)
{
    return std::string{static_cast<char>(type), 0, static_cast<char>(value), 0, 0, 0, '\xFF', '\xFF'};
}

std::string workbookStream(const std::vector<Record>& globals, const std::vector<Sheet>& sheets, bool biff5)
{
    const std::string bof = biff5 ? u16(0x0500) + u16(0x0005) + u16(0) + u16(0)
                                  : u16(0x0600) + u16(0x0005) + u16(0) + u16(0) + u32(0) + u32(0);
    std::string head = record(0x0809, bof);
    for (int i = 0; i < 16; ++i)
        head += record(0x00E0, u16(0) + u16(0) + u16(i < 15 ? 0xFFF5 : 0x0001) + std::string(biff5 ? 10 : 14, '\0'));
    for (const auto& r : globals)
        head += record(r.type, r.body);

    std::vector<std::string> boundBodies;
    size_t boundSize = 0;
    for (const auto& s : sheets) {
        boundBodies.push_back(std::string{static_cast<char>(s.state), static_cast<char>(s.type),
                                          static_cast<char>(s.name.size())} + (biff5 ? s.name : chars8(s.name)));
        boundSize += 8 + boundBodies.back().size();
    }
    const std::string eof = record(0x000A, "");
    uint32_t offset = static_cast<uint32_t>(head.size() + boundSize + eof.size());
    std::string bounds, body;
    for (size_t i = 0; i < sheets.size(); ++i) {
        bounds += record(0x0085, u32(offset) + boundBodies[i]);
        std::string sheet = record(0x0809, (biff5 ? u16(0x0500) : u16(0x0600)) + u16(sheets[i].bofType) +
                                               std::string(biff5 ? 4 : 12, '\0'));
        for (const auto& r : sheets[i].records)
            sheet += record(r.type, r.body);
        sheet += eof;
        body += sheet;
        offset += static_cast<uint32_t>(sheet.size());
    }
    return head + bounds + eof + body;
}

namespace {
constexpr uint32_t kEnd = 0xFFFFFFFE, kFree = 0xFFFFFFFF, kFatSect = 0xFFFFFFFD;

std::string entry(std::u16string_view name, uint8_t type, uint32_t child, uint32_t right, uint32_t start, uint64_t size)
{
    std::string e(128, '\0');
    for (size_t i = 0; i < name.size(); ++i)
        e.replace(2 * i, 2, u16(name[i]));
    e.replace(64, 2, u16(static_cast<uint16_t>(name.empty() ? 0 : 2 * (name.size() + 1))));
    e[66] = static_cast<char>(type);
    e[67] = 1;  // black
    e.replace(68, 4, u32(0xFFFFFFFF));
    e.replace(72, 4, u32(right));
    e.replace(76, 4, u32(child));
    e.replace(116, 4, u32(start));
    e.replace(120, 8, u32(static_cast<uint32_t>(size)) + u32(static_cast<uint32_t>(size >> 32)));
    return e;
}
}  // namespace

std::string compoundFile(const std::vector<std::pair<std::string, std::string>>& streams, int sectorShift)
{
    const size_t sector = size_t(1) << sectorShift;
    auto sectorsFor = [&](size_t bytes) { return (bytes + sector - 1) / sector; };

    // Mini stream: 64-byte pieces of the small streams, one after the other.
    std::string mini;
    std::vector<uint32_t> miniFat, fat, starts(streams.size(), kEnd);
    // Appends a chain of `count` entries to `table`, returning its first index.
    auto chainOf = [](std::vector<uint32_t>& table, size_t count) {
        const uint32_t first = static_cast<uint32_t>(table.size());
        for (size_t k = 0; k < count; ++k)
            table.push_back(k + 1 < count ? first + static_cast<uint32_t>(k) + 1 : kEnd);
        return count ? first : kEnd;
    };
    for (size_t i = 0; i < streams.size(); ++i) {
        const std::string& data = streams[i].second;
        if (data.size() >= 4096 || data.empty())
            continue;
        starts[i] = chainOf(miniFat, (data.size() + 63) / 64);
        mini += data;
        mini.resize(miniFat.size() * 64, '\0');
    }

    const size_t dirSectors = sectorsFor((streams.size() + 1) * 128);
    const size_t miniFatSectors = sectorsFor(miniFat.size() * 4);
    const size_t miniSectors = sectorsFor(mini.size());
    size_t streamSectors = 0;
    for (const auto& s : streams)
        if (s.second.size() >= 4096)
            streamSectors += sectorsFor(s.second.size());
    const size_t others = dirSectors + miniFatSectors + miniSectors + streamSectors;
    size_t fatSectors = 1;
    while (fatSectors * (sector / 4) < others + fatSectors)
        ++fatSectors;
    if (fatSectors > 109)
        throw std::runtime_error("test compound file too large");

    for (size_t k = 0; k < fatSectors; ++k)
        fat.push_back(kFatSect);
    const uint32_t dirStart = chainOf(fat, dirSectors);
    const uint32_t miniFatStart = chainOf(fat, miniFatSectors);
    const uint32_t miniStart = chainOf(fat, miniSectors);
    std::string body;
    for (size_t i = 0; i < streams.size(); ++i) {
        const std::string& data = streams[i].second;
        if (data.size() < 4096)
            continue;
        starts[i] = chainOf(fat, sectorsFor(data.size()));
        std::string padded = data;
        padded.resize(sectorsFor(data.size()) * sector, '\0');
        body += padded;
    }
    fat.resize(fatSectors * (sector / 4), kFree);

    std::string dir = entry(u"Root Entry", 5, streams.empty() ? 0xFFFFFFFF : 1, 0xFFFFFFFF, miniStart, mini.size());
    for (size_t i = 0; i < streams.size(); ++i) {
        std::u16string name(streams[i].first.begin(), streams[i].first.end());
        dir += entry(name, 2, 0xFFFFFFFF, i + 1 < streams.size() ? static_cast<uint32_t>(i + 2) : 0xFFFFFFFF, starts[i],
                     streams[i].second.size());
    }
    while (dir.size() < dirSectors * sector)
        dir += entry(u"", 0, 0xFFFFFFFF, 0xFFFFFFFF, 0, 0);

    std::string header = "\xD0\xCF\x11\xE0\xA1\xB1\x1A\xE1" + std::string(16, '\0') + u16(0x003E) +
                         u16(sectorShift == 12 ? 4 : 3) + u16(0xFFFE) + u16(static_cast<uint16_t>(sectorShift)) +
                         u16(6) + std::string(6, '\0') + u32(sectorShift == 12 ? static_cast<uint32_t>(dirSectors) : 0) +
                         u32(static_cast<uint32_t>(fatSectors)) + u32(dirStart) + u32(0) + u32(4096) +
                         u32(miniFatStart) + u32(static_cast<uint32_t>(miniFatSectors)) + u32(kEnd) + u32(0);
    for (size_t k = 0; k < 109; ++k)
        header += u32(k < fatSectors ? static_cast<uint32_t>(k) : kFree);
    header.resize(sector, '\0');

    std::string out = header;
    for (uint32_t v : fat)
        out += u32(v);
    std::string miniFatBytes;
    for (uint32_t v : miniFat)
        miniFatBytes += u32(v);
    miniFatBytes.resize(miniFatSectors * sector, '\xFF');
    mini.resize(miniSectors * sector, '\0');
    return out + dir + miniFatBytes + mini + body;
}

std::string encryptRc4(const std::string& workbook, std::u16string_view password)
{
    auto md5 = [](const std::string& data) {
        md5_ctx ctx;
        md5_init(&ctx);
        md5_update(&ctx, data.size(), reinterpret_cast<const uint8_t*>(data.data()));
        std::string out(16, '\0');
        md5_digest(&ctx, 16, reinterpret_cast<uint8_t*>(out.data()));
        return out;
    };
    std::string pass;
    for (char16_t c : password)
        pass += u16(c);
    const std::string salt = "0123456789abcdef", verifier = "tabulon-verifier", h0 = md5(pass);
    std::string buf;
    for (int i = 0; i < 16; ++i)
        buf += h0.substr(0, 5) + salt;
    const std::string key = md5(md5(buf).substr(0, 5) + u32(0));
    std::string secret = verifier + md5(verifier);
    arcfour_ctx rc4;
    arcfour_set_key(&rc4, 16, reinterpret_cast<const uint8_t*>(key.data()));
    arcfour_crypt(&rc4, secret.size(), reinterpret_cast<uint8_t*>(secret.data()),
                  reinterpret_cast<const uint8_t*>(secret.data()));
    const std::string filepassBody = u16(1) + u16(1) + u16(1) + salt + secret, filepass = record(0x002F, filepassBody);

    // Insert after the BOF and move every sheet offset.
    const size_t bofEnd = 4 + static_cast<uint8_t>(workbook[2]) + (static_cast<uint8_t>(workbook[3]) << 8);
    std::string out = workbook.substr(0, bofEnd) + filepass + workbook.substr(bofEnd);
    auto decryptor = engine::xls::Rc4Decryptor::create(filepassBody, password);
    if (!decryptor)
        throw std::runtime_error("test encryption does not verify");
    size_t pos = 0;
    while (pos + 4 <= out.size()) {
        const uint16_t type = static_cast<uint16_t>(static_cast<uint8_t>(out[pos]) | (static_cast<uint8_t>(out[pos + 1]) << 8));
        const size_t len = static_cast<uint8_t>(out[pos + 2]) | (static_cast<uint8_t>(out[pos + 3]) << 8);
        auto* data = reinterpret_cast<uint8_t*>(out.data() + pos + 4);
        if (type == 0x0085) {
            uint32_t offset;
            std::memcpy(&offset, data, 4);
            offset += static_cast<uint32_t>(filepass.size());
            std::memcpy(data, &offset, 4);
            decryptor->apply(pos + 8, data + 4, len - 4);
        } else if (type != 0x0809 && type != 0x002F) {
            decryptor->apply(pos + 4, data, len);
        }
        pos += 4 + len;
    }
    return out;
}

}  // namespace tabulon::test::xls

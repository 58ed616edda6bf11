#include "MemoryBudget.h"

#include <atomic>
#include <cstdio>
#include <iterator>

#include "Cell.h"
#include "Error.h"

namespace tabulon::engine {
namespace {
std::atomic<uint64_t> g_defaultLimit{MemoryBudget::kDefaultLimit};

const char* const kUseNames[] = {"its shared strings", "its cell styles", "its number formats",
                                 "the rows of a worksheet stored out of order", "its formulas"};
static_assert(std::size(kUseNames) == MemoryBudget::kUses);
}  // namespace

void MemoryBudget::set(Use use, uint64_t bytes)
{
    std::lock_guard lock(m_mutex);
    m_bytes[use] = bytes;
    uint64_t total = 0;
    for (uint64_t b : m_bytes)
        total += b;
    if (total > m_limit)
        throw Error(describe(m_bookName, "it needs more memory than one workbook may use (" + bytesText(m_limit) + "): " +
                                             kUseNames[use] + " take " + bytesText(bytes) + ", everything together " +
                                             bytesText(total)));
}

uint64_t MemoryBudget::used() const
{
    std::lock_guard lock(m_mutex);
    uint64_t total = 0;
    for (uint64_t b : m_bytes)
        total += b;
    return total;
}

uint64_t MemoryBudget::defaultLimit()
{
    return g_defaultLimit;
}

void MemoryBudget::setDefaultLimit(uint64_t bytes)
{
    g_defaultLimit = bytes;
}

uint64_t styleTableBytes(const StyleTable& styles)
{
    // A hash node holds the key, the string and the next pointer; long strings live apart.
    uint64_t bytes = styles.xfFormatIds.capacity() * sizeof(uint32_t) +
                     styles.customFormats.bucket_count() * sizeof(void*);
    for (const auto& [id, code] : styles.customFormats)
        bytes += sizeof(void*) * 2 + sizeof(std::pair<const uint32_t, std::string>) +
                 (code.capacity() > 15 ? code.capacity() + 1 : 0);
    return bytes;
}

std::string bytesText(uint64_t bytes)
{
    static const char* const units[] = {"KiB", "MiB", "GiB", "TiB"};
    if (bytes < 1024)
        return std::to_string(bytes) + " bytes";
    double value = static_cast<double>(bytes) / 1024;
    size_t unit = 0;
    while (value >= 1024 && unit + 1 < std::size(units)) {
        value /= 1024;
        ++unit;
    }
    char text[32];
    std::snprintf(text, sizeof text, "%.1f", value);
    std::string number = text;
    if (number.ends_with(".0"))
        number.resize(number.size() - 2);
    return number + " " + units[unit];
}

}  // namespace tabulon::engine

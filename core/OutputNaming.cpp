#include "OutputNaming.h"

#include <algorithm>
#include <chrono>
#include <cmath>
#include <random>

#include "PathHelpers.h"

namespace tabulon::core {

namespace {

class ClockRandom final : public RandomSource {
public:
    float draw() override
    {
        const auto ticks = std::chrono::system_clock::now().time_since_epoch().count();
        std::mt19937 generator(static_cast<std::mt19937::result_type>(ticks ^ (ticks >> 32)));
        // 24 random bits: every value is exact in single precision and below 1.
        return static_cast<float>(generator() >> 8) / 16777216.0f;
    }
};

// Characters a file name cannot carry. Besides the five the naming rules delete, a sheet
// name taken from a crafted file must not reach another folder, so the separators and NUL
// go too. Windows also refuses wildcards and control characters in names.
bool forbidden(char c)
{
    if (kPathSeparator == '\\' && (c == '*' || c == '?' || (c > 0 && c < 32)))
        return true;
    switch (c) {
    case ':':
    case '"':
    case '<':
    case '>':
    case '|':
    case '/':
    case '\0':
        return true;
    case '\\':
        return kPathSeparator == '\\';
    default:
        return false;
    }
}

size_t characterCount(std::string_view utf8)
{
    size_t n = 0;
    for (unsigned char c : utf8)
        if ((c & 0xC0) != 0x80)
            ++n;
    return n;
}

bool equalsIgnoringCase(std::string_view a, std::string_view b)
{
    return lowerAscii(a) == lowerAscii(b);
}

}  // namespace

std::string avoidReservedName(std::string name)
{
    // Windows reads the part before the first dot, trailing spaces aside, as a device.
    const size_t dot = name.find('.');
    size_t end = dot == std::string::npos ? name.size() : dot;
    while (end > 0 && name[end - 1] == ' ')
        --end;
    const std::string_view stem(name.data(), end);
    bool reserved = false;
    for (const char* device : {"CON", "PRN", "AUX", "NUL"})
        reserved = reserved || equalsIgnoringCase(stem, device);
    if (stem.size() == 4 && stem[3] >= '1' && stem[3] <= '9')
        reserved = reserved || equalsIgnoringCase(stem.substr(0, 3), "COM") || equalsIgnoringCase(stem.substr(0, 3), "LPT");
    if (reserved)
        name.insert(end, "_");
    return name;
}

RandomSource& clockRandomSource()
{
    static ClockRandom source;
    return source;
}

std::string csvBaseName(std::string_view bookName, std::string_view sheetName, int mode, SheetCounter& counter,
                        RandomSource& random)
{
    std::string raw;
    switch (mode) {
    case static_cast<int>(NamingMode::SheetName): {
        raw = lowerAscii(sheetName) == lowerAscii(bookName) ? std::string(bookName) + "_" + std::string(sheetName)
                                                  : std::string(sheetName);
        break;
    }
    case static_cast<int>(NamingMode::BookAndSheet):
        raw = std::string(bookName) + "_" + std::string(sheetName);
        break;
    case static_cast<int>(NamingMode::RunningNumber): {
        const std::string number = std::to_string(counter.next());
        raw = bookName == number ? number + "_" + number : number;
        break;
    }
    default:
        raw = std::string(sheetName);
        break;
    }

    std::string name;
    name.reserve(raw.size());
    for (char c : raw)
        if (!forbidden(c))
            name += c;

    // A name that begins with a space is dropped whole, not trimmed.
    if (!name.empty() && name[0] == ' ')
        name.clear();
    if (name.empty()) {
        const double r = random.draw();
        name = std::to_string(static_cast<long>(std::floor(r * 1000000.0 + 1.0)));
    }
    if (name != raw && characterCount(name) < 2) {
        const float r = random.draw();
        const float suffix = std::floor(r * 100.0f + 1.0f);
        name += std::to_string(static_cast<long>(suffix));
    }
    if (kPathSeparator == '\\')
        name = avoidReservedName(std::move(name));
    return name;
}

std::string WorkbookCsvNames::claim(const std::string& base)
{
    auto taken = [&](const std::string& name) {
        return std::find(m_taken.begin(), m_taken.end(), lowerAscii(name)) != m_taken.end();
    };
    std::string name = base;
    for (int n = 2; taken(name); ++n)
        name = base + " (" + std::to_string(n) + ")";
    m_taken.push_back(lowerAscii(name));
    return name;
}

}  // namespace tabulon::core

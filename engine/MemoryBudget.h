#pragma once
#include <array>
#include <cstdint>
#include <mutex>
#include <string>

namespace tabulon::engine {

// The memory one workbook may hold while it is converted, counted in the bytes its large
// structures really take, whichever of them grows: with several conversions side by side
// (one per core), each stays within this. Each use sets its current size; going past the
// limit throws Error: Cannot read "<file>": ... naming the use and the limit.
class MemoryBudget {
public:
    enum Use { SharedStrings, Styles, Formats, UnorderedRows, Formulas, kUses };

    explicit MemoryBudget(uint64_t limit = defaultLimit()) : m_limit(limit) {}

    // The name messages give; set by the reader that owns the budget.
    void setBookName(std::string name) { m_bookName = std::move(name); }
    // Sets what `use` now takes; throws when the total would pass the limit.
    void set(Use use, uint64_t bytes);
    uint64_t used() const;
    uint64_t limit() const { return m_limit; }

    // The limit of budgets made from now on (1 GiB unless changed; tests lower it).
    static uint64_t defaultLimit();
    static void setDefaultLimit(uint64_t bytes);
    static constexpr uint64_t kDefaultLimit = uint64_t(1) << 30;

private:
    uint64_t m_limit;
    std::string m_bookName;
    mutable std::mutex m_mutex;
    std::array<uint64_t, kUses> m_bytes{};
};

// "12 bytes", "3.5 KiB", "1 GiB": sizes in messages.
std::string bytesText(uint64_t bytes);

}  // namespace tabulon::engine

#pragma once
#include <cstdint>
#include <filesystem>
#include <functional>
#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace tabulon::engine {

class ZipDirectory;
class ZipStream;

// A read-only zip package (the container of .xlsx, .xlsm, .xlsb and .ods). Every inflated
// part is capped relative to its compressed size and absolutely, so a zip bomb ends in an
// engine::Error instead of filling memory or disk; the whole package has a budget of
// inflated bytes too, and a package whose parts share their packed data is refused when
// opened. Errors name the file and the part.
class ZipArchive {
public:
    static std::unique_ptr<ZipArchive> openFile(const std::filesystem::path& file);
    // For tests and fuzz targets; the bytes must outlive the archive.
    static std::unique_ptr<ZipArchive> openMemory(const void* data, size_t size, std::string displayName);
    ~ZipArchive();

    // Finds a part by name, without regard to case and to a leading "/".
    std::optional<uint64_t> find(std::string_view name) const;
    std::vector<std::string> names() const;
    const std::string& displayName() const { return m_displayName; }
    bool isEncrypted(uint64_t index) const;

    // Reads a whole part; throws when it inflates beyond `cap` bytes.
    std::string readAll(uint64_t index, uint64_t cap = kDefaultPartCap) const;
    // Streams a part. With `background`, a second thread inflates ahead of the reader
    // (worth it for large parts only: starting the thread costs tens of microseconds).
    std::unique_ptr<ZipStream> stream(uint64_t index, bool background = false) const;
    // The inflated size the zip directory states for a part (a hint: it may be wrong).
    uint64_t statedSize(uint64_t index) const;
    // Formats "Cannot read "<file>": <what> (part <name>)."
    [[noreturn]] void fail(const std::string& what, std::optional<uint64_t> part = std::nullopt) const;
    std::string partName(uint64_t index) const;

    static constexpr uint64_t kDefaultPartCap = uint64_t(1) << 30;

    // Counts bytes inflated from part `index` against the package's budget; throws beyond it.
    void chargeInflated(uint64_t bytes, uint64_t index) const;
    uint64_t inflatedTotal() const { return m_inflated.load(std::memory_order_relaxed); }

private:
    ZipArchive();
    void open(const std::function<std::unique_ptr<ZipDirectory>()>& opener);
    // `readAt(offset, buffer, size)` reads raw bytes of the package; false when it cannot.
    using ReadAt = bool (*)(const void* context, uint64_t offset, void* buffer, size_t size);
    void index(ReadAt readAt, const void* context, uint64_t packageSize);
    void requireDisjointParts(ReadAt readAt, const void* context, uint64_t packageSize);

    std::unique_ptr<ZipDirectory> m_directory;
    // The directory is not thread-safe: a background inflater and the caller take turns.
    mutable std::mutex m_lock;
    std::string m_displayName;
    std::vector<std::pair<std::string, uint64_t>> m_lowerNames;  // sorted, lower-cased
    uint64_t m_inflateBudget = 0;
    mutable std::atomic<uint64_t> m_inflated{0};
    friend class ZipStream;
};

// Inflates one part sequentially. The part's size and checksum are verified at its end.
class ZipStream {
public:
    ~ZipStream();
    // Reads up to `size` bytes; returns 0 at the end of the part.
    size_t read(char* buffer, size_t size);
    uint64_t inflatedSoFar() const { return m_total; }

    class Inflater;
    class Prefetch;

private:
    friend class ZipArchive;
    ZipStream(const ZipArchive& archive, uint64_t index, bool background);
    std::unique_ptr<Inflater> m_inflater;
    std::unique_ptr<Prefetch> m_prefetch;
    uint64_t m_total = 0;
};

}  // namespace tabulon::engine

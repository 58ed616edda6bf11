#pragma once
#include <filesystem>
#include <string>

namespace tabulon::engine {

// A file that appears under its name only once it is whole. On Linux it is written without
// any name (O_TMPFILE) and linked into place by commit(), so nothing is left behind even
// when the process is killed. Where the file system cannot do that (and on other systems)
// it is written under a temporary name beside the target, ".tabulon-XXXXXXXX.tmp", whose
// length does not depend on the target's, and renamed into place; that name is removed
// when the file is dropped, and on SIGINT, SIGTERM and SIGHUP once
// removeTemporaryFilesOnSignals() has run. Errors throw engine::Error naming the target.
// Windows (AtomicFileWindows.cpp) takes the named way, through UTF-16 names, and removes the
// name when the console is interrupted (Ctrl+C, closed window).
class AtomicFile {
public:
    explicit AtomicFile(const std::filesystem::path& target);
    ~AtomicFile();  // drops the file unless committed
    AtomicFile(const AtomicFile&) = delete;
    AtomicFile& operator=(const AtomicFile&) = delete;

#if !defined(_WIN32)
    int fd() const { return m_fd; }
#endif
    void write(const char* data, size_t size);
    // Empties the file, to write it again from the start.
    void truncate();
    // Closes the file and puts it in place, replacing any file of the target's name.
    void commit();
    // The temporary name, or empty while the file has none.
    const std::filesystem::path& temporaryPath() const { return m_temp; }

    // For tests: false makes new files take the named way even where the other one works
    // (so does TABULON_NAMED_TEMPORARY_FILES set in the environment).
    static void allowAnonymous(bool allow);

private:
    [[noreturn]] void fail(const std::string& reason) const;
    void openNamed(const std::filesystem::path& dir);

    std::filesystem::path m_target;
    std::filesystem::path m_temp;
#if defined(_WIN32)
    void* m_handle;  // HANDLE
#else
    int m_fd = -1;
#endif
    int m_slot = -1;  // in the table the signal handler removes names from
    bool m_committed = false;
};

// Installs handlers for SIGINT, SIGTERM and SIGHUP (those not ignored; on Windows, for the
// console's interrupt and close events) that remove the named temporary files of unfinished
// AtomicFiles, then let the signal take its former course.
// Programs call it once at start; a library never installs handlers by itself.
void removeTemporaryFilesOnSignals();

}  // namespace tabulon::engine

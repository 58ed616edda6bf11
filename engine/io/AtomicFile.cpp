#include "AtomicFile.h"

#include <fcntl.h>
#include <unistd.h>

#include <atomic>
#include <cerrno>
#include <csignal>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <random>

#include "../Error.h"

namespace tabulon::engine {
namespace {

// TABULON_NAMED_TEMPORARY_FILES=1 in the environment takes the named way (for tests of it
// on the real programs).
std::atomic<bool> g_allowAnonymous{std::getenv("TABULON_NAMED_TEMPORARY_FILES") == nullptr};

// The names a signal handler may have to remove. A slot is free (0), being filled (1) or
// live (2); the handler only reads live ones, and only calls unlink on them.
constexpr int kSlots = 64;
struct Slot {
    std::atomic<int> state{0};
    char path[4096];
};
Slot g_slots[kSlots];

int claimSlot(const std::filesystem::path& path)
{
    const std::string text = path.string();
    if (text.size() >= sizeof Slot::path)
        return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (g_slots[i].state.compare_exchange_strong(expected, 1)) {
            std::memcpy(g_slots[i].path, text.c_str(), text.size() + 1);
            g_slots[i].state.store(2);
            return i;
        }
    }
    return -1;  // table full: the name is still removed when its file is dropped
}

void releaseSlot(int& slot)
{
    if (slot >= 0)
        g_slots[slot].state.store(0);
    slot = -1;
}

#if !defined(_WIN32)
constexpr int kSignals[] = {SIGINT, SIGTERM, SIGHUP};
struct sigaction g_previous[3];

void removeAndReraise(int signal)
{
    for (Slot& slot : g_slots)
        if (slot.state.load() == 2)
            ::unlink(slot.path);
    for (size_t i = 0; i < std::size(kSignals); ++i)
        if (kSignals[i] == signal)
            ::sigaction(signal, &g_previous[i], nullptr);
    ::raise(signal);
}
#endif

std::string randomName()
{
    static std::random_device device;
    char name[32];
    std::snprintf(name, sizeof name, ".tabulon-%08x.tmp", static_cast<unsigned>(device()));
    return name;
}

}  // namespace

void AtomicFile::allowAnonymous(bool allow)
{
    g_allowAnonymous = allow;
}

AtomicFile::AtomicFile(const std::filesystem::path& target) : m_target(target)
{
    const auto dir = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
#if defined(__linux__) && defined(O_TMPFILE)
    if (g_allowAnonymous) {
        m_fd = ::open(dir.c_str(), O_TMPFILE | O_WRONLY | O_CLOEXEC, 0666);
        // commit() names the file through /proc; without it the named way is taken.
        if (m_fd >= 0 && ::access(("/proc/self/fd/" + std::to_string(m_fd)).c_str(), F_OK) != 0) {
            ::close(m_fd);
            m_fd = -1;
        }
        if (m_fd >= 0)
            return;
        // Other errors (a missing folder, no permission) come out the same on the named way.
    }
#endif
    openNamed(dir);
}

void AtomicFile::openNamed(const std::filesystem::path& dir)
{
    for (int attempt = 0; attempt < 16 && m_fd < 0; ++attempt) {
        m_temp = std::filesystem::absolute(dir / randomName());
        // Registered before it exists, so that no moment is left in which a signal misses it.
        m_slot = claimSlot(m_temp);
        m_fd = ::open(m_temp.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
        if (m_fd < 0) {
            const int error = errno;
            releaseSlot(m_slot);
            m_temp.clear();
            if (error != EEXIST)
                fail(std::strerror(error));
        }
    }
    if (m_fd < 0)
        fail(std::strerror(EEXIST));
}

AtomicFile::~AtomicFile()
{
    if (m_fd >= 0)
        ::close(m_fd);
    if (!m_committed && !m_temp.empty())
        ::unlink(m_temp.c_str());
    releaseSlot(m_slot);
}

void AtomicFile::write(const char* data, size_t size)
{
    while (size > 0) {
        const ssize_t n = ::write(m_fd, data, size);
        if (n < 0) {
            if (errno == EINTR)
                continue;
            fail(std::strerror(errno));
        }
        data += n;
        size -= static_cast<size_t>(n);
    }
}

void AtomicFile::truncate()
{
    if (::ftruncate(m_fd, 0) != 0 || ::lseek(m_fd, 0, SEEK_SET) != 0)
        fail(std::strerror(errno));
}

void AtomicFile::fail(const std::string& reason) const
{
    throw Error(cannotSave(m_target.string(), reason));
}

void AtomicFile::commit()
{
#if defined(__linux__) && defined(O_TMPFILE)
    if (m_temp.empty()) {
        const std::string self = "/proc/self/fd/" + std::to_string(m_fd);
        if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_target.c_str(), AT_SYMLINK_FOLLOW) != 0) {
            if (errno != EEXIST)
                fail(std::strerror(errno));
            // A file of that name is replaced in one step: linked under a temporary name
            // first, then renamed over it.
            const auto dir = m_target.has_parent_path() ? m_target.parent_path() : std::filesystem::path(".");
            for (int attempt = 0; attempt < 16 && m_temp.empty(); ++attempt) {
                m_temp = std::filesystem::absolute(dir / randomName());
                m_slot = claimSlot(m_temp);
                if (::linkat(AT_FDCWD, self.c_str(), AT_FDCWD, m_temp.c_str(), AT_SYMLINK_FOLLOW) != 0) {
                    const int error = errno;
                    releaseSlot(m_slot);
                    m_temp.clear();
                    if (error != EEXIST)
                        fail(std::strerror(error));
                }
            }
            if (m_temp.empty())
                fail(std::strerror(EEXIST));
        }
    }
#endif
    const int fd = m_fd;
    m_fd = -1;
    if (::close(fd) != 0) {
        if (m_temp.empty())
            ::unlink(m_target.c_str());  // linked already, but not whole
        fail(std::strerror(errno));
    }
    if (!m_temp.empty() && ::rename(m_temp.c_str(), m_target.c_str()) != 0)
        fail(std::strerror(errno));
    m_committed = true;
    releaseSlot(m_slot);
}

void removeTemporaryFilesOnSignals()
{
#if !defined(_WIN32)
    for (size_t i = 0; i < std::size(kSignals); ++i) {
        struct sigaction current {};
        if (::sigaction(kSignals[i], nullptr, &current) != 0 || current.sa_handler == SIG_IGN)
            continue;  // ignored (nohup): stays ignored
        if (current.sa_handler == removeAndReraise)
            continue;  // installed already: saving ourselves as the previous handler would re-raise forever
        g_previous[i] = current;
        struct sigaction action {};
        action.sa_handler = removeAndReraise;
        sigemptyset(&action.sa_mask);
        for (int s : kSignals)
            sigaddset(&action.sa_mask, s);
        action.sa_flags = SA_RESETHAND;
        ::sigaction(kSignals[i], &action, nullptr);
    }
#endif
}

}  // namespace tabulon::engine

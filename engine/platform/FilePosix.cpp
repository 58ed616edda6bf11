#include "File.h"

#include <fcntl.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstdio>
#include <cstring>
#include <utility>

namespace tabulon::engine::platform {
namespace {

[[noreturn]] void failWithErrno()
{
    throw SystemError(std::strerror(errno));
}

class PosixInputFile final : public InputFile {
public:
    PosixInputFile(int fd, uint64_t size) : m_fd(fd), m_size(size) {}
    ~PosixInputFile() override { ::close(m_fd); }
    uint64_t size() const override { return m_size; }

    size_t readAt(uint64_t offset, void* out, size_t size) const override
    {
        for (;;) {
            const ssize_t got = ::pread(m_fd, out, size, static_cast<off_t>(offset));
            if (got >= 0)
                return static_cast<size_t>(got);
            if (errno != EINTR)
                failWithErrno();
        }
    }

private:
    int m_fd;
    uint64_t m_size;
};


}  // namespace

std::unique_ptr<InputFile> InputFile::open(const std::filesystem::path& file)
{
    const int fd = ::open(file.c_str(), O_RDONLY | O_CLOEXEC);
    if (fd < 0)
        failWithErrno();
    struct stat st {};
    if (::fstat(fd, &st) != 0) {
        const int saved = errno;
        ::close(fd);
        errno = saved;
        failWithErrno();
    }
    return std::make_unique<PosixInputFile>(fd, static_cast<uint64_t>(st.st_size));
}


}  // namespace tabulon::engine::platform

#include "File.h"
#include "LastErrorWindows.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace tabulon::engine::platform {
namespace {

[[noreturn]] void failWithLastError()
{
    throw SystemError(lastErrorMessage());
}

class WindowsInputFile final : public InputFile {
public:
    WindowsInputFile(HANDLE handle, uint64_t size) : m_handle(handle), m_size(size) {}
    ~WindowsInputFile() override { CloseHandle(m_handle); }
    uint64_t size() const override { return m_size; }

    size_t readAt(uint64_t offset, void* out, size_t size) const override
    {
        OVERLAPPED at{};
        at.Offset = static_cast<DWORD>(offset);
        at.OffsetHigh = static_cast<DWORD>(offset >> 32);
        DWORD got = 0;
        const DWORD want = static_cast<DWORD>(std::min<size_t>(size, 1u << 30));
        if (!ReadFile(m_handle, out, want, &got, &at)) {
            if (GetLastError() == ERROR_HANDLE_EOF)
                return 0;
            failWithLastError();
        }
        return got;
    }

private:
    HANDLE m_handle;
    uint64_t m_size;
};


}  // namespace

std::unique_ptr<InputFile> InputFile::open(const std::filesystem::path& file)
{
    const HANDLE handle = CreateFileW(file.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                                      OPEN_EXISTING, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (handle == INVALID_HANDLE_VALUE)
        failWithLastError();
    LARGE_INTEGER size{};
    if (!GetFileSizeEx(handle, &size)) {
        const DWORD code = GetLastError();
        CloseHandle(handle);
        SetLastError(code);
        failWithLastError();
    }
    return std::make_unique<WindowsInputFile>(handle, static_cast<uint64_t>(size.QuadPart));
}


}  // namespace tabulon::engine::platform

#include "File.h"

#include <windows.h>

#include <algorithm>
#include <cstdio>

namespace tabulon::engine::platform {
namespace {

// The system's message for the last error, in UTF-8, without its final period and line end.
[[noreturn]] void failWithLastError()
{
    const DWORD code = GetLastError();
    wchar_t* buffer = nullptr;
    const DWORD length = FormatMessageW(FORMAT_MESSAGE_ALLOCATE_BUFFER | FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS,
                                        nullptr, code, 0, reinterpret_cast<wchar_t*>(&buffer), 0, nullptr);
    std::wstring wide = length ? std::wstring(buffer, length) : std::wstring();
    LocalFree(buffer);
    while (!wide.empty() && (wide.back() == L'\n' || wide.back() == L'\r' || wide.back() == L' ' || wide.back() == L'.'))
        wide.pop_back();
    if (wide.empty())
        wide = L"system error " + std::to_wstring(code);
    const auto utf8 = std::filesystem::path(wide).u8string();
    throw SystemError(std::string(utf8.begin(), utf8.end()));
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

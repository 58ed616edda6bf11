#pragma once
// Windows only: the system's message for the last error.
#include <windows.h>

#include <filesystem>
#include <string>

namespace tabulon::engine::platform {

// The message for GetLastError() in UTF-8, without its final period and line end.
inline std::string lastErrorMessage()
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
        return "system error " + std::to_string(code);
    const auto utf8 = std::filesystem::path(wide).u8string();
    return std::string(utf8.begin(), utf8.end());
}

}  // namespace tabulon::engine::platform

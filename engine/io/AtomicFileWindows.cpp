#include "AtomicFile.h"

#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <random>

#include "../Error.h"
#include "../platform/LastErrorWindows.h"

namespace tabulon::engine {
namespace {

// The names the console handler may have to remove: free (0), being filled (1) or live (2).
constexpr int kSlots = 64;
constexpr size_t kLongestPath = 32768;
struct Slot {
    std::atomic<int> state{0};
    wchar_t path[kLongestPath];
};
Slot g_slots[kSlots];

int claimSlot(const std::wstring& path)
{
    if (path.size() >= kLongestPath)
        return -1;
    for (int i = 0; i < kSlots; ++i) {
        int expected = 0;
        if (g_slots[i].state.compare_exchange_strong(expected, 1)) {
            std::copy(path.c_str(), path.c_str() + path.size() + 1, g_slots[i].path);
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

BOOL WINAPI removeOnInterrupt(DWORD)
{
    for (Slot& slot : g_slots)
        if (slot.state.load() == 2)
            DeleteFileW(slot.path);
    return FALSE;  // the default handling (ending the process) follows
}

std::string lastError()
{
    return platform::lastErrorMessage();
}

}  // namespace

void AtomicFile::allowAnonymous(bool) {}

AtomicFile::AtomicFile(const std::filesystem::path& target) : m_target(target), m_handle(INVALID_HANDLE_VALUE)
{
    const auto dir = target.has_parent_path() ? target.parent_path() : std::filesystem::path(".");
    openNamed(dir);
}

void AtomicFile::openNamed(const std::filesystem::path& dir)
{
    static std::random_device device;
    for (int attempt = 0; attempt < 16 && m_handle == INVALID_HANDLE_VALUE; ++attempt) {
        wchar_t name[32];
        std::swprintf(name, 32, L".tabulon-%08x.tmp", static_cast<unsigned>(device()));
        m_temp = std::filesystem::absolute(dir / name);
        m_slot = claimSlot(m_temp.wstring());
        m_handle = CreateFileW(m_temp.c_str(), GENERIC_WRITE, 0, nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
        if (m_handle == INVALID_HANDLE_VALUE) {
            const DWORD error = GetLastError();
            releaseSlot(m_slot);
            m_temp.clear();
            if (error != ERROR_FILE_EXISTS) {
                SetLastError(error);
                fail(lastError());
            }
        }
    }
    if (m_handle == INVALID_HANDLE_VALUE)
        fail("no temporary name is free");
}

AtomicFile::~AtomicFile()
{
    if (m_handle != INVALID_HANDLE_VALUE)
        CloseHandle(m_handle);
    if (!m_committed && !m_temp.empty())
        DeleteFileW(m_temp.c_str());
    releaseSlot(m_slot);
}

void AtomicFile::fail(const std::string& reason) const
{
    throw Error(cannotSave(m_target.string(), reason));
}

void AtomicFile::write(const char* data, size_t size)
{
    while (size > 0) {
        DWORD done = 0;
        if (!WriteFile(m_handle, data, static_cast<DWORD>(std::min<size_t>(size, 1u << 30)), &done, nullptr))
            fail(lastError());
        data += done;
        size -= done;
    }
}

void AtomicFile::truncate()
{
    LARGE_INTEGER zero{};
    if (!SetFilePointerEx(m_handle, zero, nullptr, FILE_BEGIN) || !SetEndOfFile(m_handle))
        fail(lastError());
}

void AtomicFile::commit()
{
    const HANDLE handle = m_handle;
    m_handle = INVALID_HANDLE_VALUE;
    if (!CloseHandle(handle))
        fail(lastError());
    if (!MoveFileExW(m_temp.c_str(), m_target.c_str(), MOVEFILE_REPLACE_EXISTING | MOVEFILE_WRITE_THROUGH))
        fail(lastError());
    m_committed = true;
    releaseSlot(m_slot);
}

void removeTemporaryFilesOnSignals()
{
    SetConsoleCtrlHandler(removeOnInterrupt, TRUE);
}

}  // namespace tabulon::engine

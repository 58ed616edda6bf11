#include "ShellOpen.h"

#include <cerrno>
#include <cstdlib>
#include <filesystem>
#include <utility>

#if defined(_WIN32)
#include <windows.h>
#include <shellapi.h>
#else
#include <fcntl.h>
#include <sys/wait.h>
#include <unistd.h>
#endif

namespace tabulon::cli {

namespace {

ShellOpener& replacement()
{
    static ShellOpener current;
    return current;
}

#if !defined(_WIN32)
// Runs `program target` with the standard streams on /dev/null. When detached, the child
// forks again and exits, so the program is adopted by init and never becomes a zombie.
void spawn(const char* program, const std::string& target, bool detached)
{
    const pid_t child = fork();
    if (child < 0)
        return;
    if (child == 0) {
        if (detached) {
            setsid();
            if (fork() != 0)
                _exit(0);
        }
        const int null = open("/dev/null", O_RDWR);
        if (null >= 0) {
            dup2(null, 0);
            dup2(null, 1);
            dup2(null, 2);
        }
        execlp(program, program, target.c_str(), static_cast<char*>(nullptr));
        _exit(127);
    }
    int status = 0;
    while (waitpid(child, &status, 0) < 0 && errno == EINTR) {
    }
}
#endif

}  // namespace

ShellOpener setShellOpenerForTests(ShellOpener opener)
{
    return std::exchange(replacement(), std::move(opener));
}

void shellOpen(const std::string& target, void* ownerWindow, int showCommand)
{
    if (replacement()) {
        replacement()(target, ownerWindow, showCommand);
        return;
    }
#if defined(_WIN32)
    // Paths are UTF-8 inside the program; the shell takes UTF-16.
    const std::wstring wide = std::filesystem::path(std::u8string(target.begin(), target.end())).wstring();
    ShellExecuteW(static_cast<HWND>(ownerWindow), L"open", wide.c_str(), nullptr, nullptr, showCommand);
#else
    if (const char* hook = std::getenv("TABULON_OPEN_COMMAND"); hook && *hook) {
        spawn(hook, target, false);
        return;
    }
#if defined(__APPLE__)
    spawn("open", target, true);
#else
    spawn("xdg-open", target, true);
#endif
#endif
}

}  // namespace tabulon::cli

#pragma once
#include <functional>

#include <grp.h>
#include <sys/wait.h>
#include <unistd.h>

namespace tabulon::test {

// Runs `check` in a child process without root's power to ignore file permissions (as the
// user nobody when the tests run as root) and returns its result.
inline int asUnprivileged(const std::function<int()>& check)
{
    const pid_t child = fork();
    if (child == 0) {
        if (geteuid() == 0 && (setgroups(0, nullptr) != 0 || setgid(65534) != 0 || setuid(65534) != 0))
            _exit(99);
        _exit(check());
    }
    int status = 0;
    waitpid(child, &status, 0);
    return WIFEXITED(status) ? WEXITSTATUS(status) : -1;
}

}  // namespace tabulon::test

#pragma once
#include <filesystem>
#include <functional>
#include <string>

namespace tabulon::cli {

// The shell's "open" of a folder, file or address. Nobody waits for the program it starts
// and its result is not examined. The owner window and show command are kept for callers
// and tests; this platform ignores them.
//
// On Linux it starts `xdg-open <target>` detached. Test hook: when the environment
// variable TABULON_OPEN_COMMAND names a program, that program is run instead with the
// target as its only argument, and waited for, so a test can record the call.
void shellOpen(const std::string& target, void* ownerWindow = nullptr, int showCommand = 5);

// Test seam: replaces shellOpen in-process. Returns the previous one; nullptr restores
// the default.
using ShellOpener = std::function<void(const std::string& target, void* ownerWindow, int showCommand)>;
ShellOpener setShellOpenerForTests(ShellOpener opener);

}  // namespace tabulon::cli

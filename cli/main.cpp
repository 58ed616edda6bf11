#include <string>
#include <vector>

#include "RunTabrun.h"
#include "engine/io/AtomicFile.h"

// The shell has already split and unquoted the arguments (see MainWindows.cpp for Windows).
int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    tabulon::engine::removeTemporaryFilesOnSignals();
    return tabulon::cli::runTabrun(args);
}

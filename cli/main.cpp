#include <string>
#include <vector>

#include "RunTabrun.h"
#include "engine/io/AtomicFile.h"

#if defined(_WIN32)
#include <cstdio>
#include <iostream>
#include <windows.h>

#include <io.h>

// Windows hands over the command line as one text; tabrun splits it by its own rules.
int main()
{
    const wchar_t* line = GetCommandLineW();
    const int size = WideCharToMultiByte(CP_UTF8, 0, line, -1, nullptr, 0, nullptr, nullptr);
    std::string text(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, line, -1, text.data(), size, nullptr, nullptr);
    // Skip the program's own name, which may be quoted.
    size_t at = 0;
    if (!text.empty() && text[0] == '"') {
        at = text.find('"', 1);
        at = at == std::string::npos ? text.size() : at + 1;
    } else {
        at = text.find_first_of(" \t");
        at = at == std::string::npos ? text.size() : at;
    }
    return tabulon::cli::runTabrunText(std::string_view(text).substr(at), std::cout, std::cerr, _isatty(_fileno(stderr)) != 0);
}
#else
// The shell has already split and unquoted the arguments.
int main(int argc, char** argv)
{
    const std::vector<std::string> args(argv + (argc > 0 ? 1 : 0), argv + argc);
    tabulon::engine::removeTemporaryFilesOnSignals();
    return tabulon::cli::runTabrun(args);
}
#endif

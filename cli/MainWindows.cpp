// tabrun's entry point on Windows: the command line is read as the raw text Windows keeps
// (GetCommandLineW) and split by the program's own rules, and messages reach a console as
// UTF-16 through WriteConsoleW, so that any character shows whatever the console's code
// page. Redirected streams get the same UTF-8 bytes as on Linux.
#include <fcntl.h>
#include <io.h>
#include <windows.h>

#include <cstdio>
#include <iostream>
#include <optional>
#include <string>

#include "RunTabrun.h"
#include "engine/io/AtomicFile.h"

namespace {

std::string utf8(const wchar_t* text)
{
    const int size = WideCharToMultiByte(CP_UTF8, 0, text, -1, nullptr, 0, nullptr, nullptr);
    std::string out(size > 0 ? size - 1 : 0, '\0');
    if (size > 1)
        WideCharToMultiByte(CP_UTF8, 0, text, -1, out.data(), size, nullptr, nullptr);
    return out;
}

// The command line without the program's name, which ends at the closing quote when it
// begins with one and at the first blank otherwise.
std::string argumentText()
{
    const std::string text = utf8(GetCommandLineW());
    size_t at = 0;
    if (!text.empty() && text[0] == '"') {
        at = text.find('"', 1);
        at = at == std::string::npos ? text.size() : at + 1;
    } else {
        at = text.find_first_of(" \t");
        at = at == std::string::npos ? text.size() : at;
    }
    return text.substr(at);
}

// Writes UTF-8 text to a console as UTF-16. A character cut between two writes waits for
// its last bytes.
class ConsoleBuffer final : public std::streambuf {
public:
    explicit ConsoleBuffer(HANDLE console) : m_console(console) {}
    ~ConsoleBuffer() override { sync(); }

protected:
    int_type overflow(int_type c) override
    {
        if (!traits_type::eq_int_type(c, traits_type::eof()))
            m_pending += traits_type::to_char_type(c);
        return traits_type::not_eof(c);
    }

    std::streamsize xsputn(const char* data, std::streamsize size) override
    {
        m_pending.append(data, static_cast<size_t>(size));
        return size;
    }

    int sync() override
    {
        size_t whole = m_pending.size();
        // Back up over an incomplete UTF-8 sequence at the end.
        for (size_t k = 1; k <= 3 && k <= m_pending.size(); ++k) {
            const auto c = static_cast<unsigned char>(m_pending[m_pending.size() - k]);
            if ((c & 0xC0) == 0x80)
                continue;
            const size_t length = c >= 0xF0 ? 4 : c >= 0xE0 ? 3 : c >= 0xC0 ? 2 : 1;
            if (length > k)
                whole = m_pending.size() - k;
            break;
        }
        if (whole == 0)
            return 0;
        std::wstring wide(whole, L'\0');
        const int units = MultiByteToWideChar(CP_UTF8, 0, m_pending.data(), static_cast<int>(whole), wide.data(),
                                              static_cast<int>(wide.size()));
        m_pending.erase(0, whole);
        DWORD written = 0;
        return units > 0 && WriteConsoleW(m_console, wide.data(), static_cast<DWORD>(units), &written, nullptr) ? 0 : -1;
    }

private:
    HANDLE m_console;
    std::string m_pending;
};

// Standard output or error: the console when the stream is one, the C++ stream otherwise.
class Stream {
public:
    Stream(DWORD which, std::ostream& fallback, FILE* file) : m_stream(&fallback)
    {
        const HANDLE handle = GetStdHandle(which);
        DWORD mode = 0;
        if (handle != INVALID_HANDLE_VALUE && handle != nullptr && GetConsoleMode(handle, &mode)) {
            m_console.emplace(handle);
            m_own.emplace(&*m_console);
            m_own->setf(std::ios::unitbuf);
            m_stream = &*m_own;
        } else {
            _setmode(_fileno(file), _O_BINARY);  // "\n" stays "\n", as on Linux
        }
    }
    std::ostream& get() { return *m_stream; }
    bool console() const { return m_console.has_value(); }

private:
    std::optional<ConsoleBuffer> m_console;
    std::optional<std::ostream> m_own;
    std::ostream* m_stream;
};

}  // namespace

int main()
{
    tabulon::engine::removeTemporaryFilesOnSignals();
    Stream out(STD_OUTPUT_HANDLE, std::cout, stdout);
    Stream err(STD_ERROR_HANDLE, std::cerr, stderr);
    const int status = tabulon::cli::runTabrunText(argumentText(), out.get(), err.get(), err.console());
    out.get().flush();
    err.get().flush();
    return status;
}

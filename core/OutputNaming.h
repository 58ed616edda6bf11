#pragma once
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tabulon::core {

// How CSV files are named; the numbers are the positions of the naming modes in the GUI's
// list. Any other value names the file after the sheet alone.
enum class NamingMode : int { SheetName = 0, BookAndSheet = 1, RunningNumber = 2 };

// The running number of NamingMode::RunningNumber. One per program (or per tabrun run):
// it counts every sheet named in that mode and goes back to 0 when a workbook's conversion
// runs to its end, but not after a failed one, so the next workbook continues the numbers.
class SheetCounter {
public:
    int64_t next() { return ++m_value; }
    void reset() { m_value = 0; }
    int64_t value() const { return m_value; }

private:
    int64_t m_value = 0;
};

// Draws the numbers of the fallback names. The real source re-seeds from the clock before
// every draw; tests pass a fixed sequence.
class RandomSource {
public:
    virtual ~RandomSource() = default;
    // A number in [0, 1), in single precision like the generator the naming rules were written for.
    virtual float draw() = 0;
};

RandomSource& clockRandomSource();

// A file name Windows can create: a reserved device name (CON, PRN, AUX, NUL, COM1 to COM9,
// LPT1 to LPT9, in any case, alone or before a dot) gets "_" after it; "nul.x" becomes
// "nul_.x". Other names come back unchanged.
std::string avoidReservedName(std::string name);

// The CSV file name without extension for sheet `sheetName` of the workbook whose name
// without extension is `bookName`; never empty and never holding a path separator, so the
// file always stays in its folder. On Windows the name also holds no wildcard or control
// character and is no reserved device name (see avoidReservedName). `mode` is a NamingMode
// value (any other int is allowed).
std::string csvBaseName(std::string_view bookName, std::string_view sheetName, int mode, SheetCounter& counter,
                        RandomSource& random = clockRandomSource());

// The CSV names given to the sheets of one workbook in one run. Two sheets may clean to the
// same name ("a<b" and "ab" both give "ab"); the later one then gets the first free name of
// "ab (2)", "ab (3)", ... so that no sheet replaces another. Names compare without regard to
// ASCII case, as they would on a file system that ignores it, so every system gives the same
// files.
class WorkbookCsvNames {
public:
    // `base` itself when no earlier sheet of the workbook has it, else the numbered name.
    std::string claim(const std::string& base);

private:
    std::vector<std::string> m_taken;  // lower-cased
};

}  // namespace tabulon::core

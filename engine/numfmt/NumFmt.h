#pragma once
#include <memory>
#include <string>
#include <string_view>

// The number-format language of the spreadsheet application (en-US conventions).
// Pure computation: no I/O, no locale, thread-safe once compiled.
namespace tabulon::numfmt {

// A format code parsed once, rendered many times.
class Format;

// Compiles a format code. Never throws on malformed codes: they render through "General"
// or their closest sensible reading.
std::shared_ptr<const Format> compile(std::string_view code);

// The bytes a compiled format takes in memory (its allocations included).
size_t footprint(const Format& format);

// The en-US code of built-in format id 0..49 (0 = "General", 14 = "m/d/yyyy", ...);
// "General" for ids that have none.
std::string_view builtinCode(unsigned id);

// Appends the displayed text of a number to `out`.
void formatNumber(const Format& format, double value, bool date1904, std::string& out);
// Appends the displayed text of a text cell (through the code's text section) to `out`.
void formatText(const Format& format, std::string_view text, std::string& out);

// Convenience for tests and callers outside the hot path.
std::string render(double value, std::string_view code, bool date1904 = false);
std::string renderText(std::string_view text, std::string_view code);

// True when the code formats numbers as dates or times (used by readers that need to
// know, for example to decide how to show a stored date).
bool isDateFormat(const Format& format);

}  // namespace tabulon::numfmt

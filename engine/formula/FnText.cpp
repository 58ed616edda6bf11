// Text functions. Characters are counted as Unicode code points.
#include <algorithm>
#include <cmath>

#include "FunctionSupport.h"
#include "numfmt/NumFmt.h"

namespace tabulon::formula {
namespace {

constexpr size_t kMaxText = 32767;

// Text of a scalar argument, or its error.
struct TextArg {
    std::string text;
    std::optional<ErrorCode> error;
};

TextArg text(const Value& v)
{
    if (v.isError())
        return {{}, v.asError()};
    return {toText(v), std::nullopt};
}

#define TEXT_ARG(name, index)                  \
    const TextArg name##Arg = text(args[index]); \
    if (name##Arg.error)                       \
        return Value::error(*name##Arg.error); \
    const std::string& name = name##Arg.text

#define NUMBER_ARG(name, index)                      \
    const auto name##Arg = number(args[index], ctx); \
    if (name##Arg.error)                             \
        return Value::error(*name##Arg.error);       \
    const double name = name##Arg.value

Value textResult(std::string s)
{
    if (s.size() > kMaxText * 4)
        return Value::error(ErrorCode::Value);
    return Value::text(std::move(s));
}

// LEFT/RIGHT(text, [count=1])
Value side(std::span<const Value> args, Context& ctx, bool left)
{
    TEXT_ARG(s, 0);
    double count = 1;
    if (args.size() > 1 && !args[1].isBlank()) {
        NUMBER_ARG(n, 1);
        count = n;
    } else if (args.size() > 1) {
        count = 0;
    }
    if (count < 0)
        return Value::error(ErrorCode::Value);
    const std::u32string cps = toCodePoints(s);
    const size_t n = size_t(std::min<double>(std::floor(count), double(cps.size())));
    return Value::text(fromCodePoints(left ? std::u32string_view(cps).substr(0, n) : std::u32string_view(cps).substr(cps.size() - n)));
}

Value fnLeft(std::span<const Value> args, Context& ctx)
{
    return side(args, ctx, true);
}

Value fnRight(std::span<const Value> args, Context& ctx)
{
    return side(args, ctx, false);
}

Value fnMid(std::span<const Value> args, Context& ctx)
{
    TEXT_ARG(s, 0);
    NUMBER_ARG(start, 1);
    NUMBER_ARG(count, 2);
    if (start < 1 || count < 0)
        return Value::error(ErrorCode::Value);
    const std::u32string cps = toCodePoints(s);
    const double from = std::floor(start) - 1;
    if (from >= double(cps.size()))
        return Value::text("");
    const size_t n = size_t(std::min<double>(std::floor(count), double(cps.size()) - from));
    return Value::text(fromCodePoints(std::u32string_view(cps).substr(size_t(from), n)));
}

Value fnLen(std::span<const Value> args, Context&)
{
    TEXT_ARG(s, 0);
    return Value::number(double(toCodePoints(s).size()));
}

// FIND (case-sensitive, no wildcards) and SEARCH (case-insensitive, wildcards).
Value locate(std::span<const Value> args, Context& ctx, bool search)
{
    TEXT_ARG(needle, 0);
    TEXT_ARG(hay, 1);
    double start = 1;
    if (args.size() > 2) {
        NUMBER_ARG(st, 2);
        start = std::floor(st);
    }
    std::u32string h = toCodePoints(search ? foldCase(hay) : hay);
    const std::u32string n = toCodePoints(search ? foldCase(needle) : needle);
    if (start < 1 || start > double(h.size() + 1))
        return Value::error(ErrorCode::Value);
    const size_t from = size_t(start) - 1;
    if (search && hasWildcards(needle)) {
        // Shortest match start: try each position with the pattern plus a trailing '*'.
        const std::string pattern = needle + "*";
        for (size_t i = from; i <= h.size(); ++i)
            if (wildcardMatch(pattern, fromCodePoints(std::u32string_view(h).substr(i))))
                return Value::number(double(i + 1));
        return Value::error(ErrorCode::Value);
    }
    const size_t at = h.find(n, from);
    if (at == std::u32string::npos)
        return Value::error(ErrorCode::Value);
    return Value::number(double(at + 1));
}

Value fnFind(std::span<const Value> args, Context& ctx)
{
    return locate(args, ctx, false);
}

Value fnSearch(std::span<const Value> args, Context& ctx)
{
    return locate(args, ctx, true);
}

Value fnSubstitute(std::span<const Value> args, Context& ctx)
{
    TEXT_ARG(s, 0);
    TEXT_ARG(from, 1);
    TEXT_ARG(to, 2);
    double which = 0;
    if (args.size() > 3) {
        NUMBER_ARG(w, 3);
        if (w < 1)
            return Value::error(ErrorCode::Value);
        which = std::floor(w);
    }
    if (from.empty())
        return Value::text(s);
    std::string out;
    size_t pos = 0, count = 0;
    for (;;) {
        const size_t at = s.find(from, pos);
        if (at == std::string::npos)
            break;
        ++count;
        out.append(s, pos, at - pos);
        if (which == 0 || double(count) == which)
            out += to;
        else
            out += from;
        pos = at + from.size();
        if (out.size() > kMaxText * 4)
            return Value::error(ErrorCode::Value);
    }
    out.append(s, pos);
    return textResult(std::move(out));
}

Value fnReplace(std::span<const Value> args, Context& ctx)
{
    TEXT_ARG(s, 0);
    NUMBER_ARG(start, 1);
    NUMBER_ARG(count, 2);
    TEXT_ARG(with, 3);
    if (start < 1 || count < 0)
        return Value::error(ErrorCode::Value);
    std::u32string cps = toCodePoints(s);
    const size_t from = size_t(std::min<double>(std::floor(start) - 1, double(cps.size())));
    const size_t n = size_t(std::min<double>(std::floor(count), double(cps.size() - from)));
    cps.replace(from, n, toCodePoints(with));
    return textResult(fromCodePoints(cps));
}

Value fnUpper(std::span<const Value> args, Context&)
{
    TEXT_ARG(s, 0);
    return Value::text(upperCase(s));
}

char32_t lowerCp(char32_t c)
{
    if (c >= 'A' && c <= 'Z')
        return c + 32;
    if (c >= 0xC0 && c <= 0xDE && c != 0xD7)
        return c + 32;
    if (c >= 0x391 && c <= 0x3A9)
        return c + 32;
    if (c >= 0x410 && c <= 0x42F)
        return c + 32;
    if (c >= 0x400 && c <= 0x40F)
        return c + 80;
    if (c >= 0x100 && c <= 0x17F && !(c & 1) && c != 0x130)
        return c + 1;
    return c;
}

Value fnLower(std::span<const Value> args, Context&)
{
    TEXT_ARG(s, 0);
    std::u32string cps = toCodePoints(s);
    for (char32_t& c : cps)
        c = lowerCp(c);
    return Value::text(fromCodePoints(cps));
}

bool isLetter(char32_t c)
{
    return (c >= 'A' && c <= 'Z') || (c >= 'a' && c <= 'z') || (c >= 0xC0 && c != 0xD7 && c != 0xF7);
}

// PROPER: a letter after a non-letter is upper-cased, every other letter lower-cased.
Value fnProper(std::span<const Value> args, Context&)
{
    TEXT_ARG(s, 0);
    std::u32string cps = toCodePoints(s);
    bool afterLetter = false;
    for (char32_t& c : cps) {
        if (isLetter(c)) {
            if (afterLetter) {
                c = lowerCp(c);
            } else {
                const std::string up = upperCase(fromCodePoints(std::u32string(1, c)));
                c = toCodePoints(up)[0];
            }
            afterLetter = true;
        } else {
            afterLetter = false;
        }
    }
    return Value::text(fromCodePoints(cps));
}

// TRIM: no leading or trailing spaces, single spaces between words (only the ASCII space).
Value fnTrim(std::span<const Value> args, Context&)
{
    TEXT_ARG(s, 0);
    std::string out;
    bool pendingSpace = false;
    for (char c : s) {
        if (c == ' ') {
            pendingSpace = !out.empty();
            continue;
        }
        if (pendingSpace)
            out += ' ';
        pendingSpace = false;
        out += c;
    }
    return Value::text(std::move(out));
}

Value fnClean(std::span<const Value> args, Context&)
{
    TEXT_ARG(s, 0);
    std::string out;
    for (char c : s)
        if (static_cast<unsigned char>(c) >= 32)
            out += c;
    return Value::text(std::move(out));
}

// CONCATENATE takes single values; CONCAT and TEXTJOIN also take ranges.
Value fnConcatenate(std::span<const Value> args, Context&)
{
    std::string out;
    for (const Value& v : args) {
        if (v.isError())
            return v;
        out += toText(v);
        if (out.size() > kMaxText * 4)
            return Value::error(ErrorCode::Value);
    }
    return textResult(std::move(out));
}

Value joinValues(std::span<const Value> args, Context& ctx, const std::string& delimiter, bool skipEmpty)
{
    std::string out;
    bool first = true;
    std::optional<ErrorCode> error;
    for (const Value& arg : args) {
        ctx.forEachValue(arg, [&](const Value& v, bool) {
            if (v.isError()) {
                error = v.asError();
                return false;
            }
            const std::string t = toText(v);
            if (skipEmpty && t.empty())
                return true;
            if (!first)
                out += delimiter;
            first = false;
            out += t;
            if (out.size() > kMaxText * 4) {
                error = ErrorCode::Value;
                return false;
            }
            return true;
        });
        if (error)
            return Value::error(*error);
    }
    return textResult(std::move(out));
}

Value fnConcat(std::span<const Value> args, Context& ctx)
{
    return joinValues(args, ctx, "", false);
}

Value fnTextJoin(std::span<const Value> args, Context& ctx)
{
    const Value d = ctx.scalar(args[0]);
    if (d.isError())
        return d;
    const auto skip = toBool(ctx.scalar(args[1]));
    if (skip.error)
        return Value::error(*skip.error);
    return joinValues(args.subspan(2), ctx, toText(d), skip.value);
}

// TEXT(value, format): numbers (and numeric text) through the number-format renderer;
// other text through the format's text section.
Value fnText(std::span<const Value> args, Context& ctx)
{
    const Value& v = args[0];
    if (v.isError())
        return v;
    TEXT_ARG(code, 1);
    const auto format = numfmt::compile(code);
    std::string out;
    if (v.isText()) {
        if (auto n = parseNumberText(v.asText(), ctx.date1904()))
            numfmt::formatNumber(*format, *n, ctx.date1904(), out);
        else
            numfmt::formatText(*format, v.asText(), out);
    } else if (v.isBool()) {
        out = toText(v);
    } else {
        numfmt::formatNumber(*format, v.isBlank() ? 0 : v.asNumber(), ctx.date1904(), out);
    }
    return textResult(std::move(out));
}

Value fnValue(std::span<const Value> args, Context& ctx)
{
    const Value& v = args[0];
    if (v.isError())
        return v;
    if (v.isNumber() || v.isBlank())
        return Value::number(v.isBlank() ? 0 : v.asNumber());
    if (v.isBool())
        return Value::error(ErrorCode::Value);
    const auto n = parseNumberText(v.asText(), ctx.date1904());
    return n ? Value::number(*n) : Value::error(ErrorCode::Value);
}

Value fnRept(std::span<const Value> args, Context& ctx)
{
    TEXT_ARG(s, 0);
    NUMBER_ARG(times, 1);
    if (times < 0)
        return Value::error(ErrorCode::Value);
    const double n = std::floor(times);
    if (double(toCodePoints(s).size()) * n > double(kMaxText))
        return Value::error(ErrorCode::Value);
    std::string out;
    for (double i = 0; i < n; ++i)
        out += s;
    return Value::text(std::move(out));
}

Value fnExact(std::span<const Value> args, Context&)
{
    TEXT_ARG(a, 0);
    TEXT_ARG(b, 1);
    return Value::boolean(a == b);
}

// CHAR and CODE use the Windows-1252 code page, as the application does on Windows.
constexpr char32_t kCp1252High[32] = {0x20AC, 0x81,   0x201A, 0x0192, 0x201E, 0x2026, 0x2020, 0x2021,
                                      0x02C6, 0x2030, 0x0160, 0x2039, 0x0152, 0x8D,   0x017D, 0x8F,
                                      0x90,   0x2018, 0x2019, 0x201C, 0x201D, 0x2022, 0x2013, 0x2014,
                                      0x02DC, 0x2122, 0x0161, 0x203A, 0x0153, 0x9D,   0x017E, 0x0178};

Value fnChar(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(n, 0);
    const double code = std::floor(n);
    if (code < 1 || code > 255)
        return Value::error(ErrorCode::Value);
    const auto c = uint32_t(code);
    const char32_t cp = c >= 0x80 && c < 0xA0 ? kCp1252High[c - 0x80] : char32_t(c);
    return Value::text(fromCodePoints(std::u32string(1, cp)));
}

Value fnCode(std::span<const Value> args, Context&)
{
    TEXT_ARG(s, 0);
    if (s.empty())
        return Value::error(ErrorCode::Value);
    const char32_t cp = toCodePoints(s)[0];
    if (cp < 0x80 || (cp >= 0xA0 && cp <= 0xFF))
        return Value::number(double(cp));
    for (uint32_t i = 0; i < 32; ++i)
        if (kCp1252High[i] == cp)
            return Value::number(double(0x80 + i));
    return Value::number(63);  // '?', as characters outside the code page show
}

// FIXED(number, [decimals=2], [no_commas=FALSE]) and DOLLAR(number, [decimals=2]): rounded,
// then shown through a number format.
std::string decimalsFormat(double decimals, bool commas, bool currency)
{
    std::string code = currency ? "$" : "";
    code += commas ? "#,##0" : "0";
    if (decimals > 0) {
        code += '.';
        code.append(size_t(std::min(decimals, 127.0)), '0');
    }
    if (currency)
        code += ";(" + code + ")";
    return code;
}

Value fnFixed(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(x, 0);
    double decimals = 2;
    if (args.size() > 1 && !args[1].isBlank()) {
        NUMBER_ARG(d, 1);
        decimals = std::trunc(d);
    }
    bool noCommas = false;
    if (args.size() > 2) {
        const auto b = toBool(args[2]);
        if (b.error)
            return Value::error(*b.error);
        noCommas = b.value;
    }
    if (decimals > 127)
        return Value::error(ErrorCode::Value);
    const double rounded = roundDecimal(x, decimals, RoundMode::HalfAwayFromZero);
    return Value::text(numfmt::render(rounded, decimalsFormat(decimals, !noCommas, false)));
}

Value fnDollar(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(x, 0);
    double decimals = 2;
    if (args.size() > 1) {
        NUMBER_ARG(d, 1);
        decimals = std::trunc(d);
    }
    if (decimals > 127)
        return Value::error(ErrorCode::Value);
    const double rounded = roundDecimal(x, decimals, RoundMode::HalfAwayFromZero);
    return Value::text(numfmt::render(rounded, decimalsFormat(decimals, true, true)));
}

#undef TEXT_ARG
#undef NUMBER_ARG

constexpr FunctionInfo kText[] = {
    {"LEFT", 1, 2, ArgMode::Scalars, false, fnLeft},
    {"RIGHT", 1, 2, ArgMode::Scalars, false, fnRight},
    {"MID", 3, 3, ArgMode::Scalars, false, fnMid},
    {"LEN", 1, 1, ArgMode::Scalars, false, fnLen},
    {"FIND", 2, 3, ArgMode::Scalars, false, fnFind},
    {"SEARCH", 2, 3, ArgMode::Scalars, false, fnSearch},
    {"SUBSTITUTE", 3, 4, ArgMode::Scalars, false, fnSubstitute},
    {"REPLACE", 4, 4, ArgMode::Scalars, false, fnReplace},
    {"UPPER", 1, 1, ArgMode::Scalars, false, fnUpper},
    {"LOWER", 1, 1, ArgMode::Scalars, false, fnLower},
    {"PROPER", 1, 1, ArgMode::Scalars, false, fnProper},
    {"TRIM", 1, 1, ArgMode::Scalars, false, fnTrim},
    {"CLEAN", 1, 1, ArgMode::Scalars, false, fnClean},
    {"CONCATENATE", 1, 255, ArgMode::Scalars, false, fnConcatenate},
    {"CONCAT", 1, 254, ArgMode::Values, false, fnConcat},
    {"TEXTJOIN", 3, 252, ArgMode::Values, false, fnTextJoin},
    {"TEXT", 2, 2, ArgMode::Scalars, false, fnText},
    {"VALUE", 1, 1, ArgMode::Scalars, false, fnValue},
    {"REPT", 2, 2, ArgMode::Scalars, false, fnRept},
    {"EXACT", 2, 2, ArgMode::Scalars, false, fnExact},
    {"CHAR", 1, 1, ArgMode::Scalars, false, fnChar},
    {"CODE", 1, 1, ArgMode::Scalars, false, fnCode},
    {"FIXED", 1, 3, ArgMode::Scalars, false, fnFixed},
    {"DOLLAR", 1, 2, ArgMode::Scalars, false, fnDollar},
};

}  // namespace

std::span<const FunctionInfo> textFunctions()
{
    return kText;
}

}  // namespace tabulon::formula

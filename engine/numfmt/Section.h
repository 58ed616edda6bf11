#pragma once
// The compiled form of one section of a format code, shared by the parser and the renderer.
#include <cstdint>
#include <string>
#include <string_view>
#include <vector>

namespace tabulon::numfmt::detail {

enum class Kind : uint8_t { Empty, General, Number, Scientific, Fraction, Date, Text };

enum class TokenKind : uint8_t {
    Lit,
    Digit,  // ch is '0', '#' or '?'
    Point,
    Comma,
    Percent,
    Exp,  // E+ or E-; ch is '+' or '-'
    Slash,
    FixedDen,  // literal denominator digits after '/'
    Text,      // @
    General,
    Year2,
    Year4,
    Era,      // Japanese era name: width 1 letter, 2 first character, 3 full name
    EraYear,  // year of the Japanese era; width 2 pads to two digits
    MonthOrMinute,  // m or mm, resolved after the section is read
    Month,
    Month2,
    MonthAbbr,
    MonthFull,
    MonthLetter,
    Day,
    Day2,
    DayAbbr,
    DayFull,
    Hour,
    Hour2,
    Minute,
    Minute2,
    Second,
    Second2,
    SubSecond,  // width digits of a second
    AmPm,       // am text at [off, off+len), pm text right after, width bytes long
    ElapsedH,
    ElapsedM,
    ElapsedS,
};

enum class Part : uint8_t { None, Int, Frac, Exp, Num, Den };

struct Token {
    TokenKind kind;
    char ch = 0;
    Part part = Part::None;
    uint16_t width = 0;
    uint32_t off = 0, len = 0;  // literal text, or the token's own source text
};

enum class Op : uint8_t { Lt, Le, Gt, Ge, Eq, Ne };

struct Condition {
    bool present = false;
    Op op = Op::Eq;
    double value = 0;

    bool matches(double v) const
    {
        switch (op) {
        case Op::Lt: return v < value;
        case Op::Le: return v <= value;
        case Op::Gt: return v > value;
        case Op::Ge: return v >= value;
        case Op::Eq: return v == value;
        case Op::Ne: return v != value;
        }
        return false;
    }
    // A condition that admits only negative numbers ([<0], [<-25], [<=-25]), so its section
    // shows them without a minus. [<=0] counts too, as zero has no sign to drop.
    bool meansNegative() const { return present && value <= 0 && (op == Op::Lt || op == Op::Le); }
    bool meansNonNegative() const { return present && value == 0 && (op == Op::Gt || op == Op::Ge); }
};

struct Section {
    Kind kind = Kind::Empty;
    std::vector<Token> toks;
    std::string pool;
    Condition cond;
    bool hasText = false;
    // Numbers
    int intDigits = 0, fracDigits = 0, expDigits = 0, numDigits = 0, denDigits = 0;
    std::string fracChars;  // placeholders after the point, for trailing-zero trimming
    bool grouping = false;
    bool fracHasInt = false;
    int shift = 0;  // decimal exponent added: +2 per %, -3 per scaling comma
    int64_t fixedDen = 0;
    // Dates
    int subSecond = 0;
    bool twelveHour = false;
    bool japanese = false;  // a [$-411] locale tag: g and e mean the era and its year

    std::string_view text(const Token& t) const { return std::string_view(pool).substr(t.off, t.len); }
};

inline bool isDateKind(TokenKind k) { return k >= TokenKind::Year2 && k <= TokenKind::ElapsedS; }

// Splits a code at its unquoted semicolons and compiles the first four sections.
std::vector<Section> parseSections(std::string_view code);

}  // namespace tabulon::numfmt::detail

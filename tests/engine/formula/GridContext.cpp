#include "GridContext.h"

namespace tabulon::formula {

void PrintTo(const Value& v, std::ostream* os)
{
    switch (v.type()) {
    case Value::Type::Blank: *os << "(blank)"; break;
    case Value::Type::Number: *os << v.asNumber(); break;
    case Value::Type::Text: *os << '"' << v.asText() << '"'; break;
    case Value::Type::Bool: *os << (v.asBool() ? "TRUE" : "FALSE"); break;
    case Value::Type::Error: *os << errorLiteral(v.asError()); break;
    case Value::Type::Array: {
        *os << '{';
        for (size_t i = 0; i < v.asArray().cells.size(); ++i) {
            if (i)
                *os << (i % v.asArray().cols ? "," : ";");
            PrintTo(v.asArray().cells[i], os);
        }
        *os << '}';
        break;
    }
    case Value::Type::Ref: *os << "(reference, " << v.areas().size() << " areas)"; break;
    }
}
}  // namespace tabulon::formula

namespace tabulon::formula::test {

Value range(std::string_view a1)
{
    auto parse = [](std::string_view s, uint32_t& row, uint32_t& col) {
        col = 0;
        row = 0;
        size_t i = 0;
        while (i < s.size() && std::isalpha(static_cast<unsigned char>(s[i])))
            col = col * 26 + uint32_t(std::toupper(static_cast<unsigned char>(s[i++])) - 'A' + 1);
        while (i < s.size())
            row = row * 10 + uint32_t(s[i++] - '0');
        --row;
        --col;
    };
    Area a;
    const size_t colon = a1.find(':');
    parse(a1.substr(0, colon), a.rowFirst, a.colFirst);
    if (colon == std::string_view::npos) {
        a.rowLast = a.rowFirst;
        a.colLast = a.colFirst;
    } else {
        parse(a1.substr(colon + 1), a.rowLast, a.colLast);
    }
    return Value::ref(a);
}

}  // namespace tabulon::formula::test

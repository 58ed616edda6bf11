// The evaluator: runs a formula's postfix tokens on an explicit operand stack.
#include <algorithm>
#include <cmath>

#include "Book.h"

namespace tabulon::formula {

namespace {
constexpr uint32_t kRows = 1048576, kCols = 16384;
constexpr size_t kMaxOperands = 65536;

Value numberResult(double v)
{
    return std::isfinite(v) ? Value::number(v) : Value::error(ErrorCode::Num);
}

// The bounding box of two single-sheet areas (the ':' operator); nullopt when they differ in
// sheets.
std::optional<Area> boundingBox(const Area& a, const Area& b)
{
    if (a.sheetFirst != b.sheetFirst || a.sheetLast != b.sheetLast)
        return std::nullopt;
    return Area{a.sheetFirst, a.sheetLast, std::min(a.rowFirst, b.rowFirst), std::min(a.colFirst, b.colFirst),
                std::max(a.rowLast, b.rowLast), std::max(a.colLast, b.colLast)};
}
}  // namespace

Value Book::operand(const Value& v)
{
    if (!v.isRef())
        return v;
    if (m_cur.array) {
        const auto& areas = v.areas();
        if (areas.size() == 1 && areas[0].cellCount() > 1)
            return refToArray(v, *this);
    }
    return scalar(v);
}

Value Book::scalarBinary(Op op, const Value& a, const Value& b)
{
    if (op == Op::Concat) {
        if (a.isError())
            return a;
        if (b.isError())
            return b;
        std::string s = toText(a);
        s += toText(b);
        if (s.size() > 32767)
            return Value::error(ErrorCode::Value);
        return Value::text(std::move(s));
    }
    if (op >= Op::Eq && op <= Op::Ge) {
        if (a.isError())
            return a;
        if (b.isError())
            return b;
        const int c = compareScalars(a, b);
        switch (op) {
        case Op::Eq: return Value::boolean(c == 0);
        case Op::Ne: return Value::boolean(c != 0);
        case Op::Lt: return Value::boolean(c < 0);
        case Op::Le: return Value::boolean(c <= 0);
        case Op::Gt: return Value::boolean(c > 0);
        default: return Value::boolean(c >= 0);
        }
    }
    const auto x = toNumber(a, m_date1904);
    if (x.error)
        return Value::error(*x.error);
    const auto y = toNumber(b, m_date1904);
    if (y.error)
        return Value::error(*y.error);
    switch (op) {
    case Op::Plus: return numberResult(x.value + y.value);
    case Op::Minus: return numberResult(x.value - y.value);
    case Op::Times: return numberResult(x.value * y.value);
    case Op::Divide:
        if (y.value == 0)
            return Value::error(ErrorCode::Div0);
        return numberResult(x.value / y.value);
    case Op::Power:
        if (x.value == 0 && y.value == 0)
            return Value::error(ErrorCode::Num);
        if (x.value == 0 && y.value < 0)
            return Value::error(ErrorCode::Div0);
        return numberResult(std::pow(x.value, y.value));
    default: return Value::error(ErrorCode::Value);
    }
}

Value Book::applyBinary(Op op, const Value& left, const Value& right)
{
    const Value a = operand(left), b = operand(right);
    if (!a.isArray() && !b.isArray())
        return scalarBinary(op, a, b);
    // Element by element; a single row or column stretches, beyond the smaller size #N/A.
    auto dims = [](const Value& v) {
        return v.isArray() ? std::pair{v.asArray().rows, v.asArray().cols} : std::pair{1u, 1u};
    };
    const auto [ar, ac] = dims(a);
    const auto [br, bc] = dims(b);
    const uint32_t rows = std::max(ar, br), cols = std::max(ac, bc);
    if (uint64_t(rows) * cols > (uint64_t(1) << 20))
        return Value::error(ErrorCode::Num);
    auto out = std::make_shared<Array>();
    out->rows = rows;
    out->cols = cols;
    out->cells.reserve(size_t(rows) * cols);
    auto element = [](const Value& v, uint32_t r, uint32_t c) -> Value {
        if (!v.isArray())
            return v;
        const Array& x = v.asArray();
        const uint32_t rr = x.rows == 1 ? 0 : r, cc = x.cols == 1 ? 0 : c;
        return rr < x.rows && cc < x.cols ? x.at(rr, cc) : Value::error(ErrorCode::NA);
    };
    for (uint32_t r = 0; r < rows; ++r)
        for (uint32_t c = 0; c < cols; ++c)
            out->cells.push_back(scalarBinary(op, element(a, r, c), element(b, r, c)));
    return Value::array(out);
}

Value Book::applyUnary(Op op, const Value& value)
{
    const Value v = operand(value);
    auto one = [&](const Value& x) -> Value {
        if (op == Op::UnaryPlus)
            return x;
        const auto n = toNumber(x, m_date1904);
        if (n.error)
            return Value::error(*n.error);
        return op == Op::Negate ? Value::number(-n.value) : Value::number(n.value / 100);
    };
    if (!v.isArray())
        return one(v);
    auto out = std::make_shared<Array>(v.asArray());
    for (Value& e : out->cells)
        e = one(e);
    return Value::array(out);
}

Value Book::evaluate(const Formula& f, uint32_t sheet, uint32_t row, uint32_t col, bool arrayMode)
{
    const Position saved = m_cur;
    Value v = run(f, sheet, row, col, arrayMode);
    if (v.isRef()) {
        m_cur = Position{sheet, row, col, arrayMode};
        v = operand(v);
    }
    m_cur = saved;
    // A formula showing an empty cell shows 0.
    return v.isBlank() ? Value::number(0) : v;
}

Value Book::run(const Formula& f, uint32_t sheet, uint32_t row, uint32_t col, bool arrayMode)
{
    m_cur = Position{sheet, row, col, arrayMode};
    std::vector<Value> stack;
    stack.reserve(16);
    const Position here = m_cur;
    for (const Token& t : f.tokens) {
        if (stack.size() >= kMaxOperands)
            return Value::error(ErrorCode::Value);
        m_cur.array = here.array || (t.flags & kArrayContext);
        switch (t.op) {
        case Op::Number: stack.push_back(Value::number(t.number)); break;
        case Op::Text: stack.push_back(Value::text(f.texts[t.index])); break;
        case Op::Bool: stack.push_back(Value::boolean(t.number != 0)); break;
        case Op::Error: stack.push_back(Value::error(ErrorCode(uint8_t(t.number)))); break;
        case Op::Missing: stack.push_back(Value()); break;
        case Op::Array: stack.push_back(Value::array(f.arrays[t.index])); break;
        case Op::RefError: stack.push_back(Value::error(ErrorCode::Ref)); break;
        case Op::Ref: {
            Area a;
            stack.push_back(resolveArea(t, here, a) ? Value::ref(a) : Value::error(ErrorCode::Ref));
            break;
        }
        case Op::Name: {
            Value v = definedName(f.texts[t.index]);
            m_cur = here;
            stack.push_back(std::move(v));
            break;
        }
        case Op::Negate:
        case Op::UnaryPlus:
        case Op::Percent: {
            if (stack.empty())
                return Value::error(ErrorCode::Value);
            stack.back() = applyUnary(t.op, stack.back());
            m_cur = here;
            break;
        }
        case Op::Range:
        case Op::Union:
        case Op::Intersect: {
            if (stack.size() < 2)
                return Value::error(ErrorCode::Value);
            Value b = std::move(stack.back());
            stack.pop_back();
            Value a = std::move(stack.back());
            if (a.isError()) {
                break;
            }
            if (b.isError()) {
                stack.back() = b;
                break;
            }
            if (!a.isRef() || !b.isRef()) {
                stack.back() = Value::error(ErrorCode::Value);
                break;
            }
            if (t.op == Op::Union) {
                auto areas = std::make_shared<std::vector<Area>>(a.areas());
                areas->insert(areas->end(), b.areas().begin(), b.areas().end());
                if (areas->size() > 4096) {
                    stack.back() = Value::error(ErrorCode::Value);
                    break;
                }
                stack.back() = Value::ref(std::move(areas));
                break;
            }
            if (a.areas().size() != 1 || b.areas().size() != 1) {
                stack.back() = Value::error(ErrorCode::Value);
                break;
            }
            const Area& x = a.areas()[0];
            const Area& y = b.areas()[0];
            if (t.op == Op::Range) {
                auto box = boundingBox(x, y);
                stack.back() = box ? Value::ref(*box) : Value::error(ErrorCode::Value);
            } else {
                Area i{std::max(x.sheetFirst, y.sheetFirst), std::min(x.sheetLast, y.sheetLast),
                       std::max(x.rowFirst, y.rowFirst), std::max(x.colFirst, y.colFirst),
                       std::min(x.rowLast, y.rowLast), std::min(x.colLast, y.colLast)};
                const bool empty = i.sheetFirst > i.sheetLast || i.rowFirst > i.rowLast || i.colFirst > i.colLast;
                stack.back() = empty ? Value::error(ErrorCode::Null) : Value::ref(i);
            }
            break;
        }
        case Op::Call: {
            if (stack.size() < t.argc)
                return Value::error(ErrorCode::Value);
            const size_t first = stack.size() - t.argc;
            Value v = callFunction(*t.fn, std::span<const Value>(stack.data() + first, t.argc), *this);
            m_cur = here;
            stack.resize(first);
            stack.push_back(std::move(v));
            break;
        }
        case Op::Unsupported: return Value::error(ErrorCode(uint8_t(t.number)));
        default: {
            if (stack.size() < 2)
                return Value::error(ErrorCode::Value);
            Value b = std::move(stack.back());
            stack.pop_back();
            stack.back() = applyBinary(t.op, stack.back(), b);
            m_cur = here;
            break;
        }
        }
    }
    if (stack.size() != 1)
        return Value::error(ErrorCode::Value);
    return stack.back();
}

}  // namespace tabulon::formula

// Date and time functions over serial dates (see Dates.h).
#include <algorithm>
#include <cmath>
#include <set>

#include "Dates.h"
#include "FunctionSupport.h"

namespace tabulon::formula {
namespace {

#define NUMBER_ARG(name, index)                      \
    const auto name##Arg = number(args[index], ctx); \
    if (name##Arg.error)                             \
        return Value::error(*name##Arg.error);       \
    const double name = name##Arg.value

// A serial date argument: numbers, or text read as a date; negative or too large is #NUM!.
#define DATE_ARG(name, index)                                                 \
    NUMBER_ARG(name##Raw, index);                                             \
    if (name##Raw < 0 || name##Raw >= kMaxSerial + 1)                         \
        return Value::error(ErrorCode::Num);                                  \
    const double name = std::floor(name##Raw)

Value serialOrNum(std::optional<double> s)
{
    return s ? Value::number(*s) : Value::error(ErrorCode::Num);
}

Value fnDate(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(y, 0);
    NUMBER_ARG(m, 1);
    NUMBER_ARG(d, 2);
    return serialOrNum(serialFromDate(y, m, d, ctx.date1904()));
}

Value fnTime(std::span<const Value> args, Context& ctx)
{
    NUMBER_ARG(h, 0);
    NUMBER_ARG(m, 1);
    NUMBER_ARG(s, 2);
    const double seconds = std::trunc(h) * 3600 + std::trunc(m) * 60 + std::trunc(s);
    if (seconds < 0 || !std::isfinite(seconds))
        return Value::error(ErrorCode::Num);
    return Value::number(std::fmod(seconds, 86400) / 86400);
}

Value datePart(std::span<const Value> args, Context& ctx, int part)
{
    DATE_ARG(serial, 0);
    const Ymd d = dateFromSerial(int64_t(serial), ctx.date1904());
    return Value::number(part == 0 ? d.year : part == 1 ? d.month : d.day);
}

Value fnYear(std::span<const Value> args, Context& ctx)
{
    return datePart(args, ctx, 0);
}

Value fnMonth(std::span<const Value> args, Context& ctx)
{
    return datePart(args, ctx, 1);
}

Value fnDay(std::span<const Value> args, Context& ctx)
{
    return datePart(args, ctx, 2);
}

// Seconds of the day, rounded to the nearest second as the application shows times.
Value timePart(std::span<const Value> args, Context& ctx, int part)
{
    NUMBER_ARG(serial, 0);
    if (serial < 0)
        return Value::error(ErrorCode::Num);
    const double frac = serial - std::floor(serial);
    const int64_t secs = int64_t(std::llround(frac * 86400)) % 86400;
    return Value::number(double(part == 0 ? secs / 3600 : part == 1 ? secs / 60 % 60 : secs % 60));
}

Value fnHour(std::span<const Value> args, Context& ctx)
{
    return timePart(args, ctx, 0);
}

Value fnMinute(std::span<const Value> args, Context& ctx)
{
    return timePart(args, ctx, 1);
}

Value fnSecond(std::span<const Value> args, Context& ctx)
{
    return timePart(args, ctx, 2);
}

// Day of the week, 0 = Sunday (serial 1, 1900-01-01, counts as a Sunday).
int dayOfWeek(double serial, bool date1904)
{
    const int64_t s = int64_t(serial) + (date1904 ? 1462 : 0);
    return int(((s + 6) % 7 + 7) % 7);
}

Value fnWeekday(std::span<const Value> args, Context& ctx)
{
    DATE_ARG(serial, 0);
    double type = 1;
    if (args.size() > 1) {
        NUMBER_ARG(t, 1);
        type = std::trunc(t);
    }
    const int dow = dayOfWeek(serial, ctx.date1904());  // 0 = Sunday
    const int t = int(type);
    if (t == 1 || t == 17)
        return Value::number(dow + 1);
    if (t == 2 || t == 11)
        return Value::number((dow + 6) % 7 + 1);
    if (t == 3)
        return Value::number((dow + 6) % 7);
    if (t >= 12 && t <= 16)  // 12 = Tuesday first ... 16 = Saturday first
        return Value::number((dow - (t - 10) + 14) % 7 + 1);
    return Value::error(ErrorCode::Num);
}

Value fnWeeknum(std::span<const Value> args, Context& ctx)
{
    DATE_ARG(serial, 0);
    double type = 1;
    if (args.size() > 1) {
        NUMBER_ARG(t, 1);
        type = std::trunc(t);
    }
    const bool d1904 = ctx.date1904();
    const Ymd d = dateFromSerial(int64_t(serial), d1904);
    if (type == 21) {  // ISO 8601: weeks start Monday, week 1 holds the first Thursday
        const int dowMon = (dayOfWeek(serial, d1904) + 6) % 7;  // 0 = Monday
        const double thursday = serial - dowMon + 3;
        const Ymd ty = dateFromSerial(int64_t(thursday), d1904);
        const auto jan1 = serialFromDate(ty.year, 1, 1, d1904);
        if (!jan1)
            return Value::error(ErrorCode::Num);
        return Value::number(std::floor((thursday - *jan1) / 7) + 1);
    }
    int startDay;  // 0 = Sunday
    if (type == 1 || type == 17)
        startDay = 0;
    else if (type == 2 || type == 11)
        startDay = 1;
    else if (type >= 12 && type <= 16)
        startDay = int(type) - 10;
    else
        return Value::error(ErrorCode::Num);
    const auto jan1 = serialFromDate(d.year, 1, 1, d1904);
    if (!jan1)
        return Value::error(ErrorCode::Num);
    const int offset = (dayOfWeek(*jan1, d1904) - startDay + 7) % 7;
    return Value::number(std::floor((serial - *jan1 + offset) / 7) + 1);
}

// EDATE/EOMONTH: a date some months away (day kept but clamped / the month's last day).
Value monthsAway(std::span<const Value> args, Context& ctx, bool endOfMonth)
{
    DATE_ARG(serial, 0);
    NUMBER_ARG(months, 1);
    const Ymd d = dateFromSerial(int64_t(serial), ctx.date1904());
    const double m = double(d.month) + std::trunc(months);
    if (endOfMonth)
        return serialOrNum(serialFromDate(d.year, m + 1, 0, ctx.date1904()));
    const auto last = serialFromDate(d.year, m + 1, 0, ctx.date1904());
    const auto first = serialFromDate(d.year, m, 1, ctx.date1904());
    if (!last || !first)
        return Value::error(ErrorCode::Num);
    return Value::number(std::min(*first + d.day - 1, *last));
}

Value fnEdate(std::span<const Value> args, Context& ctx)
{
    return monthsAway(args, ctx, false);
}

Value fnEomonth(std::span<const Value> args, Context& ctx)
{
    return monthsAway(args, ctx, true);
}

Value fnDatedif(std::span<const Value> args, Context& ctx)
{
    DATE_ARG(start, 0);
    DATE_ARG(end, 1);
    if (args[2].isError())
        return args[2];
    const std::string unit = upperCase(toText(args[2]));
    if (start > end)
        return Value::error(ErrorCode::Num);
    const bool d1904 = ctx.date1904();
    const Ymd a = dateFromSerial(int64_t(start), d1904), b = dateFromSerial(int64_t(end), d1904);
    int months = (b.year - a.year) * 12 + (b.month - a.month);
    if (b.day < a.day)
        --months;
    if (unit == "D")
        return Value::number(end - start);
    if (unit == "M")
        return Value::number(months);
    if (unit == "Y")
        return Value::number(months / 12);
    if (unit == "YM")
        return Value::number(months % 12);
    if (unit == "MD") {
        if (b.day >= a.day)
            return Value::number(b.day - a.day);
        const auto monthBefore = serialFromDate(b.year, b.month, 0, d1904);
        const Ymd prev = dateFromSerial(int64_t(*monthBefore), d1904);
        return Value::number(std::max(0, prev.day - a.day) + b.day);
    }
    if (unit == "YD") {
        // Days from the start's anniversary in the end's year (or the year before).
        int year = b.year;
        if (b.month < a.month || (b.month == a.month && b.day < a.day))
            --year;
        const auto anniversary = serialFromDate(year, a.month, a.day, d1904);
        return anniversary ? Value::number(end - *anniversary) : Value::error(ErrorCode::Num);
    }
    return Value::error(ErrorCode::Num);
}

Value fnDays(std::span<const Value> args, Context& ctx)
{
    DATE_ARG(end, 0);
    DATE_ARG(start, 1);
    return Value::number(end - start);
}

// Holidays of NETWORKDAYS / WORKDAY as whole serials.
std::optional<ErrorCode> holidays(std::span<const Value> args, size_t index, Context& ctx, std::set<double>& out)
{
    if (args.size() <= index)
        return std::nullopt;
    std::optional<ErrorCode> error;
    ctx.forEachValue(args[index], [&](const Value& v, bool) {
        if (v.isError()) {
            error = v.asError();
            return false;
        }
        if (v.isBlank())
            return true;
        const auto n = toNumber(v, ctx.date1904());
        if (n.error) {
            error = n.error;
            return false;
        }
        out.insert(std::floor(n.value));
        return true;
    });
    return error;
}

Value fnNetworkdays(std::span<const Value> args, Context& ctx)
{
    const Value a = ctx.scalar(args[0]), b = ctx.scalar(args[1]);
    const auto sa = toNumber(a, ctx.date1904()), sb = toNumber(b, ctx.date1904());
    if (sa.error)
        return Value::error(*sa.error);
    if (sb.error)
        return Value::error(*sb.error);
    std::set<double> off;
    if (auto e = holidays(args, 2, ctx, off))
        return Value::error(*e);
    double start = std::floor(sa.value), end = std::floor(sb.value);
    const double sign = start <= end ? 1 : -1;
    if (sign < 0)
        std::swap(start, end);
    if (end - start > 1e7)
        return Value::error(ErrorCode::Num);
    // Whole weeks at once, then the remaining days one by one.
    const double weeks = std::floor((end - start + 1) / 7);
    double count = weeks * 5;
    for (double d = start + weeks * 7; d <= end; ++d) {
        const int dow = dayOfWeek(d, ctx.date1904());
        if (dow != 0 && dow != 6)
            ++count;
    }
    for (double h : off) {
        const int dow = dayOfWeek(h, ctx.date1904());
        if (h >= start && h <= end && dow != 0 && dow != 6)
            --count;
    }
    return Value::number(sign * count);
}

Value fnWorkday(std::span<const Value> args, Context& ctx)
{
    const Value a = ctx.scalar(args[0]), b = ctx.scalar(args[1]);
    const auto sa = toNumber(a, ctx.date1904()), sb = toNumber(b, ctx.date1904());
    if (sa.error)
        return Value::error(*sa.error);
    if (sb.error)
        return Value::error(*sb.error);
    std::set<double> off;
    if (auto e = holidays(args, 2, ctx, off))
        return Value::error(*e);
    double day = std::floor(sa.value);
    double left = std::trunc(sb.value);
    if (std::fabs(left) > 1e7)
        return Value::error(ErrorCode::Num);
    const double step = left < 0 ? -1 : 1;
    while (left != 0) {
        day += step;
        const int dow = dayOfWeek(day, ctx.date1904());
        if (dow != 0 && dow != 6 && !off.count(day))
            left -= step;
        if (day < 0 || day > kMaxSerial)
            return Value::error(ErrorCode::Num);
    }
    return Value::number(day);
}

Value fnDatevalue(std::span<const Value> args, Context& ctx)
{
    const Value& v = args[0];
    if (v.isError())
        return v;
    if (!v.isText())
        return Value::error(ErrorCode::Value);
    const auto n = parseNumberText(v.asText(), ctx.date1904());
    // Plain numbers are not dates.
    if (!n || v.asText().find_first_of("/-:") == std::string::npos)
        if (!n || v.asText().find_first_not_of("0123456789.+-eE $,%()") == std::string::npos)
            return Value::error(ErrorCode::Value);
    return Value::number(std::floor(*n));
}

Value fnTimevalue(std::span<const Value> args, Context& ctx)
{
    const Value& v = args[0];
    if (v.isError())
        return v;
    if (!v.isText())
        return Value::error(ErrorCode::Value);
    const auto n = parseNumberText(v.asText(), ctx.date1904());
    if (!n || v.asText().find(':') == std::string::npos)
        return Value::error(ErrorCode::Value);
    return Value::number(*n - std::floor(*n));
}

Value fnToday(std::span<const Value>, Context& ctx)
{
    return Value::number(std::floor(ctx.now()));
}

Value fnNow(std::span<const Value>, Context& ctx)
{
    return Value::number(ctx.now());
}

#undef DATE_ARG
#undef NUMBER_ARG

constexpr FunctionInfo kDate[] = {
    {"DATE", 3, 3, ArgMode::Scalars, false, fnDate},
    {"TIME", 3, 3, ArgMode::Scalars, false, fnTime},
    {"YEAR", 1, 1, ArgMode::Scalars, false, fnYear},
    {"MONTH", 1, 1, ArgMode::Scalars, false, fnMonth},
    {"DAY", 1, 1, ArgMode::Scalars, false, fnDay},
    {"HOUR", 1, 1, ArgMode::Scalars, false, fnHour},
    {"MINUTE", 1, 1, ArgMode::Scalars, false, fnMinute},
    {"SECOND", 1, 1, ArgMode::Scalars, false, fnSecond},
    {"WEEKDAY", 1, 2, ArgMode::Scalars, false, fnWeekday},
    {"WEEKNUM", 1, 2, ArgMode::Scalars, false, fnWeeknum},
    {"EDATE", 2, 2, ArgMode::Scalars, false, fnEdate},
    {"EOMONTH", 2, 2, ArgMode::Scalars, false, fnEomonth},
    {"DATEDIF", 3, 3, ArgMode::Scalars, false, fnDatedif},
    {"DAYS", 2, 2, ArgMode::Scalars, false, fnDays},
    {"NETWORKDAYS", 2, 3, ArgMode::Values, false, fnNetworkdays},
    {"WORKDAY", 2, 3, ArgMode::Values, false, fnWorkday},
    {"DATEVALUE", 1, 1, ArgMode::Scalars, false, fnDatevalue},
    {"TIMEVALUE", 1, 1, ArgMode::Scalars, false, fnTimevalue},
    {"TODAY", 0, 0, ArgMode::Scalars, true, fnToday},
    {"NOW", 0, 0, ArgMode::Scalars, true, fnNow},
};

}  // namespace

std::span<const FunctionInfo> dateFunctions()
{
    return kDate;
}

}  // namespace tabulon::formula

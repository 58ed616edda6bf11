#pragma once
#include <cstdint>
#include <optional>

// Serial dates as the application counts them: day 1 is 1900-01-01, day 60 is the
// 1900-02-29 that never was (kept for compatibility, so serials after it match the
// calendar), and the time of day is the fraction. In the 1904 system day 0 is 1904-01-01.
namespace tabulon::formula {

struct Ymd {
    int year = 1900, month = 1, day = 0;
};

// Days from 1970-01-01 in the proleptic Gregorian calendar (any month/day overflow is
// carried into the year: month 13 is January of the next year, day 0 the last of the
// month before).
int64_t daysFromCivil(int64_t year, int64_t month, int64_t day);
Ymd civilFromDays(int64_t days);

// DATE(year, month, day) as a serial, years 0..1899 counted from 1900 as the application
// does; nullopt when the result lies before the first serial or after 9999-12-31.
std::optional<double> serialFromDate(double year, double month, double day, bool date1904);
// The calendar date of a serial's day (serial 0 gives 1900-01-00, 60 gives 1900-02-29).
Ymd dateFromSerial(int64_t serialDay, bool date1904);
// Serials the application accepts as dates: 0 .. 2958465 (9999-12-31).
inline constexpr double kMaxSerial = 2958465.0;

}  // namespace tabulon::formula

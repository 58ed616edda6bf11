#include "Dates.h"

#include <cmath>

namespace tabulon::formula {

int64_t daysFromCivil(int64_t y, int64_t m, int64_t d)
{
    // Carry months into years first; days are added linearly at the end.
    y += (m - 1) >= 0 ? (m - 1) / 12 : -((12 - m) / 12);
    m = ((m - 1) % 12 + 12) % 12 + 1;
    y -= m <= 2;
    const int64_t era = (y >= 0 ? y : y - 399) / 400;
    const int64_t yoe = y - era * 400;
    const int64_t doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5;
    const int64_t doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
    return era * 146097 + doe - 719468 + (d - 1);
}

Ymd civilFromDays(int64_t z)
{
    z += 719468;
    const int64_t era = (z >= 0 ? z : z - 146096) / 146097;
    const int64_t doe = z - era * 146097;
    const int64_t yoe = (doe - doe / 1460 + doe / 36524 - doe / 146096) / 365;
    const int64_t doy = doe - (365 * yoe + yoe / 4 - yoe / 100);
    const int64_t mp = (5 * doy + 2) / 153;
    const int d = int(doy - (153 * mp + 2) / 5 + 1);
    const int m = int(mp < 10 ? mp + 3 : mp - 9);
    return {int(yoe + era * 400 + (m <= 2)), m, d};
}

namespace {
// Serial 1 (1900 system) is 1900-01-01; from 1900-03-01 on, serial = days since 1899-12-30.
const int64_t kEpoch1900 = daysFromCivil(1899, 12, 30);
const int64_t kEpoch1904 = daysFromCivil(1904, 1, 1);
}  // namespace

std::optional<double> serialFromDate(double year, double month, double day, bool date1904)
{
    if (!std::isfinite(year) || !std::isfinite(month) || !std::isfinite(day))
        return std::nullopt;
    year = std::trunc(year);
    month = std::trunc(month);
    day = std::trunc(day);
    if (year < 0 || year >= 10000 || std::fabs(month) > 1e6 || std::fabs(day) > 1e8)
        return std::nullopt;
    if (year < 1900)
        year += 1900;
    const int64_t days = daysFromCivil(int64_t(year), int64_t(month), int64_t(day));
    double serial;
    if (date1904) {
        serial = double(days - kEpoch1904);
    } else {
        serial = double(days - kEpoch1900);
        // Before 1900-03-01 the application's count is one lower (it counts 1900-02-29).
        if (serial < 61)
            serial -= 1;
        // DATE(1900,1,0) is serial 0; anything earlier is an error.
    }
    if (serial < 0 || serial > kMaxSerial - (date1904 ? 1462 : 0))
        return std::nullopt;
    return serial;
}

Ymd dateFromSerial(int64_t serial, bool date1904)
{
    if (date1904)
        return civilFromDays(kEpoch1904 + serial);
    if (serial == 0)
        return {1900, 1, 0};
    if (serial == 60)
        return {1900, 2, 29};
    if (serial < 60)
        return civilFromDays(kEpoch1900 + serial + 1);
    return civilFromDays(kEpoch1900 + serial);
}

}  // namespace tabulon::formula

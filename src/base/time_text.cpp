#include "base/time_text.h"

#include <cstdio>

namespace qv {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;
// 0000-03-01 to 1970-01-01, the days the proleptic Gregorian count below starts before 1970.
constexpr std::int64_t kDaysFromYearZeroMarch = 719468;
constexpr std::int64_t kDaysPer400Years = 146097;
// The seconds of 0000-01-01T00:00:00Z and of 10000-01-01T00:00:00Z.
constexpr std::int64_t kFirst = -62167219200;
constexpr std::int64_t kPastLast = 253402300800;

}  // namespace

std::string Iso8601Utc(std::int64_t t) {
    if (t < kFirst || t >= kPastLast) return std::string();
    std::int64_t days = t / kSecondsPerDay;
    std::int64_t second = t % kSecondsPerDay;
    if (second < 0) {
        second += kSecondsPerDay;
        --days;
    }
    // Days to a civil date in the Gregorian calendar, with years starting on 1 March so that the
    // leap day comes last.
    const std::int64_t z = days + kDaysFromYearZeroMarch;
    const std::int64_t era = (z >= 0 ? z : z - (kDaysPer400Years - 1)) / kDaysPer400Years;
    const std::int64_t dayOfEra = z - era * kDaysPer400Years;
    const std::int64_t yearOfEra =
        (dayOfEra - dayOfEra / 1460 + dayOfEra / 36524 - dayOfEra / 146096) / 365;
    const std::int64_t dayOfYear = dayOfEra - (365 * yearOfEra + yearOfEra / 4 - yearOfEra / 100);
    const std::int64_t monthFromMarch = (5 * dayOfYear + 2) / 153;
    const std::int64_t day = dayOfYear - (153 * monthFromMarch + 2) / 5 + 1;
    const std::int64_t month = monthFromMarch < 10 ? monthFromMarch + 3 : monthFromMarch - 9;
    const std::int64_t year = yearOfEra + era * 400 + (month <= 2 ? 1 : 0);

    char text[80];
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", static_cast<int>(year),
                  static_cast<int>(month), static_cast<int>(day), static_cast<int>(second / 3600),
                  static_cast<int>(second / 60 % 60), static_cast<int>(second % 60));
    return text;
}

}  // namespace qv

#include "recorder/recording_name.h"

#include <cstdio>

namespace halvorn::recorder {
namespace {

constexpr std::int64_t kSecondsPerDay = 86400;

constexpr const char* kDayNames[7] = {"Sun", "Mon", "Tue", "Wed", "Thu", "Fri", "Sat"};
constexpr const char* kMonthNames[12] = {"Jan", "Feb", "Mar", "Apr", "May", "Jun",
                                         "Jul", "Aug", "Sep", "Oct", "Nov", "Dec"};

// Rounds toward minus infinity, so times before 1970 fall on the right day.
constexpr std::int64_t FloorDiv(std::int64_t value, std::int64_t divisor) {
  const std::int64_t quotient = value / divisor;
  return (value % divisor != 0 && (value < 0) != (divisor < 0)) ? quotient - 1 : quotient;
}

}  // namespace

UtcTime BreakDownUtc(std::int64_t utc_seconds) {
  // Written so that no reading of the clock, however wild, overflows.
  std::int64_t days = utc_seconds / kSecondsPerDay;
  std::int64_t second_of_day = utc_seconds % kSecondsPerDay;
  if (second_of_day < 0) {
    second_of_day += kSecondsPerDay;
    --days;
  }

  // Days to civil date, counting from 1 March of year 0 in 400-year eras.
  const std::int64_t shifted = days + 719468;
  const std::int64_t era = FloorDiv(shifted, 146097);
  const std::int64_t day_of_era = shifted - era * 146097;
  const std::int64_t year_of_era =
      (day_of_era - day_of_era / 1460 + day_of_era / 36524 - day_of_era / 146096) / 365;
  const std::int64_t day_of_year = day_of_era - (365 * year_of_era + year_of_era / 4 - year_of_era / 100);
  const std::int64_t month_from_march = (5 * day_of_year + 2) / 153;
  const int month = static_cast<int>(month_from_march < 10 ? month_from_march + 3 : month_from_march - 9);

  UtcTime time{};
  time.year = year_of_era + era * 400 + (month <= 2 ? 1 : 0);
  time.month = month;
  time.day = static_cast<int>(day_of_year - (153 * month_from_march + 2) / 5 + 1);
  time.hour = static_cast<int>(second_of_day / 3600);
  time.minute = static_cast<int>(second_of_day / 60 % 60);
  time.second = static_cast<int>(second_of_day % 60);
  // 1 January 1970 was a Thursday.
  time.weekday = static_cast<int>(days - FloorDiv(days + 4, 7) * 7 + 4);
  return time;
}

RecordingName MakeRecordingName(std::int64_t utc_seconds, int copy) {
  const UtcTime time = BreakDownUtc(utc_seconds);
  RecordingName name;
  char copy_text[16] = "";
  if (copy > 1) std::snprintf(copy_text, sizeof copy_text, " (%d)", copy);
  std::snprintf(name.text.data(), name.text.size(), "%s %s %02d %02d-%02d-%02d %04lld%s.wav",
                kDayNames[time.weekday], kMonthNames[time.month - 1], time.day, time.hour, time.minute,
                time.second, static_cast<long long>(time.year), copy_text);
  return name;
}

}  // namespace halvorn::recorder

#include "tools/recording/utc_text.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace halvorn::recording {

std::string IsoUtc(std::int64_t utc_seconds) {
  const auto time = static_cast<std::time_t>(utc_seconds);
  std::tm utc{};
  char text[64];
  if (gmtime_r(&time, &utc) == nullptr) {
    std::snprintf(text, sizeof text, "%" PRId64 " s since 1970 UTC", utc_seconds);
  } else {
    std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                  utc.tm_hour, utc.tm_min, utc.tm_sec);
  }
  return text;
}

}  // namespace halvorn::recording

#include "tools/recording/utc_text.h"

#include <cinttypes>
#include <cstdio>
#include <ctime>

namespace halvorn::recording {
namespace {

bool BreakDown(std::time_t time, std::tm& utc) {
#ifdef _WIN32
  return gmtime_s(&utc, &time) == 0;
#else
  return gmtime_r(&time, &utc) != nullptr;
#endif
}

}  // namespace

std::optional<std::string> Iso8601Utc(std::int64_t utc_seconds) {
  std::tm utc{};
  if (!BreakDown(static_cast<std::time_t>(utc_seconds), utc)) return std::nullopt;
  char text[64];
  std::snprintf(text, sizeof text, "%04d-%02d-%02dT%02d:%02d:%02dZ", utc.tm_year + 1900, utc.tm_mon + 1, utc.tm_mday,
                utc.tm_hour, utc.tm_min, utc.tm_sec);
  return text;
}

std::string IsoUtc(std::int64_t utc_seconds) {
  if (auto text = Iso8601Utc(utc_seconds)) return *text;
  char text[64];
  std::snprintf(text, sizeof text, "%" PRId64 " s since 1970 UTC", utc_seconds);
  return text;
}

}  // namespace halvorn::recording

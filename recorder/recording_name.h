// Recording files are named after the UTC second their recording started:
// "Sun Dec 06 09-19-49 2026.wav". A second file of the same second gets a
// copy number: "Sun Dec 06 09-19-49 2026 (2).wav".
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace halvorn::recorder {

struct UtcTime {
  std::int64_t year;
  int month;    // 1 to 12
  int day;      // 1 to 31
  int hour;     // 0 to 23
  int minute;   // 0 to 59
  int second;   // 0 to 59
  int weekday;  // 0 Sunday to 6 Saturday
};

// Proleptic Gregorian calendar, no time zone, no leap seconds.
UtcTime BreakDownUtc(std::int64_t utc_seconds);

inline constexpr std::size_t kRecordingNameCapacity = 64;

// A name built in place, so that a recording can go on in a new file from the
// delivery thread without allocating.
struct RecordingName {
  std::array<char, kRecordingNameCapacity> text{};
  const char* c_str() const { return text.data(); }
};

// `copy` 1 is the plain name; 2 and up add " (copy)" before ".wav".
RecordingName MakeRecordingName(std::int64_t utc_seconds, int copy = 1);

}  // namespace halvorn::recorder

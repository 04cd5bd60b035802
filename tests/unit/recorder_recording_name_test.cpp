// File names from the UTC start time, whatever the local time zone.
#include "recorder/recording_name.h"

#include <gtest/gtest.h>

#include <cstdlib>
#include <ctime>
#include <random>
#include <string>

namespace halvorn::recorder {
namespace {

class ZoneOverride {
 public:
  explicit ZoneOverride(const char* zone) {
    if (const char* old = std::getenv("TZ")) saved_ = old;
    had_zone_ = std::getenv("TZ") != nullptr;
    setenv("TZ", zone, 1);
    tzset();
  }
  ~ZoneOverride() {
    if (had_zone_) {
      setenv("TZ", saved_.c_str(), 1);
    } else {
      unsetenv("TZ");
    }
    tzset();
  }

 private:
  std::string saved_;
  bool had_zone_ = false;
};

TEST(RecordingName, NamesTheUtcSecondWithDashesForColons) {
  EXPECT_STREQ(MakeRecordingName(1796548789).c_str(), "Sun Dec 06 09-19-49 2026.wav");
  EXPECT_EQ(std::string(MakeRecordingName(1796548789).c_str()).size(), 28u);
}

TEST(RecordingName, UsesUtcWhateverTheTimeZone) {
  for (const char* zone : {"UTC0", "NZST-12NZDT", "EST5EDT", "Pacific/Kiritimati", "America/St_Johns"}) {
    ZoneOverride override_zone(zone);
    EXPECT_STREQ(MakeRecordingName(1798761599).c_str(), "Thu Dec 31 23-59-59 2026.wav") << zone;
  }
}

TEST(RecordingName, DaysBelowTenHaveALeadingZero) {
  EXPECT_STREQ(MakeRecordingName(1793840523).c_str(), "Thu Nov 05 01-02-03 2026.wav");
}

TEST(RecordingName, CopiesAfterTheFirstCarryTheirNumber) {
  EXPECT_STREQ(MakeRecordingName(1796548789, 1).c_str(), "Sun Dec 06 09-19-49 2026.wav");
  EXPECT_STREQ(MakeRecordingName(1796548789, 2).c_str(), "Sun Dec 06 09-19-49 2026 (2).wav");
  EXPECT_STREQ(MakeRecordingName(1796548789, 1000).c_str(), "Sun Dec 06 09-19-49 2026 (1000).wav");
}

TEST(RecordingName, EpochAndLeapDays) {
  EXPECT_STREQ(MakeRecordingName(0).c_str(), "Thu Jan 01 00-00-00 1970.wav");
  EXPECT_STREQ(MakeRecordingName(951782400).c_str(), "Tue Feb 29 00-00-00 2000.wav");
  EXPECT_STREQ(MakeRecordingName(-1).c_str(), "Wed Dec 31 23-59-59 1969.wav");
}

// The calendar arithmetic agrees with the C library's UTC conversion over
// three millennia, around every day boundary tried.
TEST(RecordingName, BreakDownAgreesWithGmtime) {
  std::mt19937_64 random(20261206);
  std::uniform_int_distribution<std::int64_t> seconds(-62135596800, 253402300799);  // years 1 to 9999
  for (int i = 0; i < 200000; ++i) {
    std::int64_t t = seconds(random);
    if (i % 4 == 1) t -= t % 86400;       // midnight
    if (i % 4 == 2) t -= t % 86400 + 1;   // one second before
    const std::time_t as_time = static_cast<std::time_t>(t);
    std::tm expected{};
    ASSERT_NE(gmtime_r(&as_time, &expected), nullptr);
    const UtcTime got = BreakDownUtc(t);
    ASSERT_EQ(got.year, expected.tm_year + 1900LL) << t;
    ASSERT_EQ(got.month, expected.tm_mon + 1) << t;
    ASSERT_EQ(got.day, expected.tm_mday) << t;
    ASSERT_EQ(got.hour, expected.tm_hour) << t;
    ASSERT_EQ(got.minute, expected.tm_min) << t;
    ASSERT_EQ(got.second, expected.tm_sec) << t;
    ASSERT_EQ(got.weekday, expected.tm_wday) << t;
  }
}

TEST(RecordingName, ExtremeClockReadingsStillGiveATerminatedName) {
  const std::string high = MakeRecordingName(INT64_MAX, 99999).c_str();
  const std::string low = MakeRecordingName(INT64_MIN).c_str();
  EXPECT_EQ(high.substr(high.size() - 4), ".wav");
  EXPECT_EQ(low.substr(low.size() - 4), ".wav");
}

}  // namespace
}  // namespace halvorn::recorder

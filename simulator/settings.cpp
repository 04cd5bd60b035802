#include "simulator/settings.h"

#include <cstring>

#include "simulator/environment.h"

namespace halvorn::simulator {
namespace {

bool IsBlank(char c) { return c == ' ' || c == '\t'; }

bool IsDigit(char c) { return c >= '0' && c <= '9'; }

// Longer times would not fit a 32-bit count of milliseconds.
constexpr std::uint64_t kLongestUnplugSeconds = 1000000;

// "<digits>[.<digits>]" seconds as milliseconds, digits past the third
// decimal dropped; `cursor` ends past the number. False when malformed.
bool ParseSeconds(const char*& cursor, std::uint32_t* ms) {
  if (!IsDigit(*cursor)) return false;
  std::uint64_t seconds = 0;
  for (; IsDigit(*cursor); ++cursor) {
    seconds = seconds * 10 + static_cast<std::uint64_t>(*cursor - '0');
    if (seconds > kLongestUnplugSeconds) return false;
  }
  std::uint64_t thousandths = 0;
  if (*cursor == '.') {
    ++cursor;
    if (!IsDigit(*cursor)) return false;
    int places = 0;
    for (; IsDigit(*cursor); ++cursor, ++places) {
      if (places < 3) thousandths = thousandths * 10 + static_cast<std::uint64_t>(*cursor - '0');
    }
    for (; places < 3; ++places) thousandths *= 10;
  }
  *ms = static_cast<std::uint32_t>(seconds * 1000 + thousandths);
  return true;
}

bool SettingIs(const char* variable, const char* expected) {
  char value[64];
  return ReadEnvironment(variable, value, sizeof value) && std::strcmp(value, expected) == 0;
}

}  // namespace

bool ListContains(const char* list, const char* entry) {
  const std::size_t entry_length = std::strlen(entry);
  const char* cursor = list;
  while (*cursor != '\0') {
    while (IsBlank(*cursor)) ++cursor;
    const char* name = cursor;
    while (*cursor != '\0' && *cursor != ',') ++cursor;
    const char* end = cursor;
    while (end > name && IsBlank(end[-1])) --end;
    if (static_cast<std::size_t>(end - name) == entry_length &&
        std::strncmp(name, entry, entry_length) == 0) {
      return true;
    }
    if (*cursor == ',') ++cursor;
  }
  return false;
}

bool FailureInjected(const char* entry) {
  char list[kSettingChars];
  return ReadEnvironment(kFailVariable, list, sizeof list) && ListContains(list, entry);
}

SourceKind ReadSourceKind() {
  if (SettingIs(kSourceVariable, "counting")) return SourceKind::kCounting;
  if (SettingIs(kSourceVariable, "blocks")) return SourceKind::kBlockCounting;
  return SourceKind::kScene;
}

Pacing ReadPacing() { return SettingIs(kPacingVariable, "unpaced") ? Pacing::kUnpaced : Pacing::kRealtime; }

bool ReadStampTransfers() { return SettingIs(kStampVariable, "1"); }

Stall ReadStall() {
  char value[64];
  if (!ReadEnvironment(kStallVariable, value, sizeof value)) return {};
  std::uint64_t numbers[2] = {0, 0};
  int at = 0;
  bool digits = false;
  for (const char* c = value; *c != '\0'; ++c) {
    if (*c >= '0' && *c <= '9') {
      numbers[at] = numbers[at] * 10 + static_cast<std::uint64_t>(*c - '0');
      if (numbers[at] > 3600000) return {};
      digits = true;
    } else if (*c == ',' && at == 0 && digits) {
      at = 1;
      digits = false;
    } else {
      return {};
    }
  }
  if (at != 1 || !digits) return {};
  return {static_cast<std::uint32_t>(numbers[0]), static_cast<std::uint32_t>(numbers[1])};
}

Unplug ReadUnplug() {
  char value[64];
  if (!ReadEnvironment(kUnplugVariable, value, sizeof value)) return {};
  Unplug unplug;
  const char* cursor = value;
  if (!ParseSeconds(cursor, &unplug.after_ms)) return {};
  if (*cursor == ':') {
    ++cursor;
    if (!ParseSeconds(cursor, &unplug.gone_ms)) return {};
    unplug.replugs = true;
  }
  if (*cursor != '\0') return {};
  unplug.set = true;
  return unplug;
}

std::int32_t ReadTrueClockHz() {
  char value[32];
  if (!ReadEnvironment(kClockVariable, value, sizeof value) || value[0] == '\0') return kDefaultTrueClockHz;
  std::int64_t hz = 0;
  for (const char* digit = value; *digit != '\0'; ++digit) {
    if (*digit < '0' || *digit > '9') return kDefaultTrueClockHz;
    hz = hz * 10 + (*digit - '0');
    if (hz > kHighestClockHz) return kDefaultTrueClockHz;
  }
  return hz < kLowestClockHz ? kDefaultTrueClockHz : static_cast<std::int32_t>(hz);
}

}  // namespace halvorn::simulator

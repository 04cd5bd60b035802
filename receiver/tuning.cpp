#include "receiver/tuning.h"

#include <cmath>
#include <limits>

namespace halvorn::receiver {

std::uint32_t NcoWord(std::int32_t lo_hz, std::int32_t reference_clock_hz) {
  const double quotient = static_cast<double>(lo_hz) * 4294967296.0 / reference_clock_hz;
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(quotient));
}

std::int32_t HighestLoHz(std::int32_t reference_clock_hz) {
  return static_cast<std::int32_t>((static_cast<std::int64_t>(reference_clock_hz) + 1) / 2 - 1);
}

std::int32_t PreselectorSettingFor(std::int32_t frequency_hz) {
  static constexpr std::int32_t kUpperLimitsHz[] = {1700000,  2100000,  3000000,  4200000,
                                                    6000000,  8400000,  12000000, 17000000,
                                                    24000000, 32000000};
  std::int32_t setting = 0;
  for (std::int32_t limit : kUpperLimitsHz) {
    if (frequency_hz < limit) return setting;
    ++setting;
  }
  return kPreselectorWideband;
}

std::optional<std::int32_t> CalibratedClock(std::int32_t tuned_hz, std::int32_t reference_clock_hz) {
  const double tuned = tuned_hz;
  const double nearest_khz = std::floor(tuned * 0.001 + 0.5);
  if (nearest_khz == 0.0) return std::nullopt;
  const double clock = ((nearest_khz * 1000.0) / tuned) * reference_clock_hz;
  if (!(clock >= 1.0 && clock < 2147483648.0)) return std::nullopt;
  if (std::fabs(clock - reference_clock_hz) > reference_clock_hz * kMaxClockCorrectionPpm * 1e-6) return std::nullopt;
  return static_cast<std::int32_t>(clock);
}

}  // namespace halvorn::receiver

// The receiver's arithmetic as a host can check it, written apart from the
// receiver's code: the NCO word and the frequency it tunes, the preselector
// band, and the clock a calibration leads to.
#pragma once

#include <cmath>
#include <cstdint>
#include <optional>

namespace halvorn::testing {

inline std::uint32_t ExpectedNcoWord(std::int32_t lo_hz, std::int32_t clock_hz) {
  const double quotient = static_cast<double>(lo_hz) * 4294967296.0 / static_cast<double>(clock_hz);
  return static_cast<std::uint32_t>(static_cast<std::int64_t>(quotient));
}

// The frequency a word tunes with the receiver's true clock: words from 2^31
// on are negative frequencies.
inline double TunedHz(std::uint32_t nco_word, double clock_hz) {
  return static_cast<std::int32_t>(nco_word) * clock_hz / 4294967296.0;
}

inline int ExpectedBand(std::int32_t frequency_hz) {
  static constexpr std::int32_t kLimits[] = {1700000, 2100000,  3000000,  4200000,  6000000,
                                             8400000, 12000000, 17000000, 24000000, 32000000};
  for (int band = 0; band < 10; ++band) {
    if (frequency_hz < kLimits[band]) return band;
  }
  return 10;
}

// The clock a calibration leads to, or nothing when the plug-in must refuse
// it: no whole kilohertz to put the signal on, a correction of more than 1000
// ppm (no crystal is that far off), or a clock that is not a positive 32-bit
// number of hertz.
inline std::optional<std::int32_t> ExpectedCalibratedClock(std::int32_t tuned_hz, std::int32_t clock_hz) {
  const double khz = std::floor(static_cast<double>(tuned_hz) * 0.001 + 0.5);
  if (khz == 0.0) return std::nullopt;
  const double clock = ((khz * 1000.0) / static_cast<double>(tuned_hz)) * static_cast<double>(clock_hz);
  if (!(clock >= 1.0 && clock < 2147483648.0)) return std::nullopt;
  if (std::fabs(clock - clock_hz) > clock_hz * 1000e-6) return std::nullopt;
  return static_cast<std::int32_t>(clock);
}

// The top of the LO range hosts may tune: the last whole hertz below half
// the clock, the last whose tuning word is still positive.
inline std::int32_t ExpectedHighestLo(std::int32_t clock_hz) {
  return static_cast<std::int32_t>(std::ceil(static_cast<double>(clock_hz) / 2.0)) - 1;
}

// What SetHWLO gives for an LO: 0 in range, the highest LO above it, a
// negative number below it.
inline std::int32_t ExpectedSetHwLoResult(std::int32_t lo_hz, std::int32_t clock_hz) {
  const std::int32_t highest = ExpectedHighestLo(clock_hz);
  return lo_hz > highest ? highest : lo_hz < 0 ? -1 : 0;
}

// The LO StartHW tunes: the nearer end of the range for one outside it.
inline std::int32_t ExpectedStartLo(std::int32_t lo_hz, std::int32_t clock_hz) {
  const std::int32_t highest = ExpectedHighestLo(clock_hz);
  return lo_hz > highest ? highest : lo_hz < 0 ? 0 : lo_hz;
}

}  // namespace halvorn::testing

// Pure arithmetic of tuning: the NCO word, the preselector band plan and the
// reference-clock calibration.
#pragma once

#include <cstdint>
#include <optional>

namespace halvorn::receiver {

inline constexpr std::int32_t kNominalReferenceClockHz = 80000000;
inline constexpr std::int32_t kPreselectorWideband = 10;
// The LO a freshly loaded module reports, and the lowest the host may tune.
inline constexpr std::int32_t kDefaultLoHz = 7050000;
inline constexpr std::int32_t kLowestLoHz = 0;

// The highest LO the host may tune with this reference clock: the last whole
// hertz below half the clock, whose tuning word is still positive. Half the
// clock itself has the word 2^31, which the DDC takes for minus half the
// clock.
std::int32_t HighestLoHz(std::int32_t reference_clock_hz);

// The DDC's phase increment per reference-clock cycle: the quotient
// lo * 2^32 / clock in double precision, truncated toward zero, low 32 bits
// kept (a negative LO gives the two's-complement word).
std::uint32_t NcoWord(std::int32_t lo_hz, std::int32_t reference_clock_hz);

// Band filter 0 to 9 by frequency, or 10 (wideband) above the last band.
std::int32_t PreselectorSettingFor(std::int32_t frequency_hz);

// The largest correction a calibration makes: ten times a poor crystal's
// error. Anything more comes from a frequency not tuned onto a carrier.
inline constexpr double kMaxClockCorrectionPpm = 1000.0;

inline constexpr const char* kCalibrationRefusedMessage =
    "Clock calibration refused: the tuned frequency is too far from a whole kilohertz for a clock error.\n"
    "Tune exactly onto the carrier of a station at a whole number of kilohertz "
    "(a time-signal or broadcast station), then click Clk Calib again.";

// The clock that puts the last tuned frequency exactly on its nearest whole
// kilohertz. Empty when no sound clock follows: a nearest kilohertz of 0, a
// correction of more than kMaxClockCorrectionPpm, or a result outside 1 Hz to
// 2^31 - 1 Hz.
std::optional<std::int32_t> CalibratedClock(std::int32_t tuned_hz, std::int32_t reference_clock_hz);

}  // namespace halvorn::receiver

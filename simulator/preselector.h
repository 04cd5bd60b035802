// The receiver's preselector: ten band filters chosen by setting 0 to 9 and
// a wideband path, setting 10.
#pragma once

#include <cstdint>

namespace halvorn::simulator {

inline constexpr std::int32_t kWidebandSetting = 10;
// What a signal outside the selected band loses.
inline constexpr double kOutOfBandLossDb = 30.0;

bool IsPreselectorSetting(std::int32_t setting);

// True when a signal at `rf_hz` lies in the pass band of `setting`: band s
// spans the frequencies from the upper limit of band s - 1 up to (without)
// its own; band 0 reaches down to 0 Hz, the wideband path passes everything.
bool PreselectorPasses(std::int32_t setting, double rf_hz);

}  // namespace halvorn::simulator

// The panel's controls as tests name them in groups.
#pragma once

#include <vector>

#include "panel/control_ids.h"

namespace halvorn::testing {

// The 17 controls of the receiver's settings, which a recording disables.
inline std::vector<int> ReceiverSettingControls() {
  std::vector<int> ids;
  for (int id = panel::kAttenuator0dB; id <= panel::kAttenuator30dB; ++id) ids.push_back(id);
  for (int id = panel::kFirstRateButton; id <= panel::kLastRateButton; ++id) ids.push_back(id);
  for (int id : {panel::kAdcPreamp, panel::kAdcDither, panel::kClockCalibrate, panel::kPreselector}) ids.push_back(id);
  return ids;
}

// The radio buttons of one group: the attenuator's, or the sample rates'.
inline std::vector<int> RadioGroupOf(int id) {
  std::vector<int> ids;
  if (id >= panel::kAttenuator0dB && id <= panel::kAttenuator30dB) {
    for (int member = panel::kAttenuator0dB; member <= panel::kAttenuator30dB; ++member) ids.push_back(member);
  } else if (id >= panel::kFirstRateButton && id <= panel::kLastRateButton) {
    for (int member = panel::kFirstRateButton; member <= panel::kLastRateButton; ++member) ids.push_back(member);
  }
  return ids;
}

inline bool IsCheckBox(int id) {
  return id == panel::kAdcPreamp || id == panel::kAdcDither || id == panel::kPreselector;
}

}  // namespace halvorn::testing

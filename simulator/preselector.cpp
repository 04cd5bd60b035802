#include "simulator/preselector.h"

namespace halvorn::simulator {
namespace {

// Upper limit of bands 0 to 9, exclusive.
constexpr double kBandTopHz[] = {1700000,  2100000,  3000000,  4200000,  6000000,
                                 8400000, 12000000, 17000000, 24000000, 32000000};

}  // namespace

bool IsPreselectorSetting(std::int32_t setting) { return setting >= 0 && setting <= kWidebandSetting; }

bool PreselectorPasses(std::int32_t setting, double rf_hz) {
  if (setting == kWidebandSetting) return true;
  if (!IsPreselectorSetting(setting)) return false;
  const double bottom_hz = setting == 0 ? 0.0 : kBandTopHz[setting - 1];
  return rf_hz >= bottom_hz && rf_hz < kBandTopHz[setting];
}

}  // namespace halvorn::simulator

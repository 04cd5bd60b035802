#include "host/host_menus.h"

#include <cmath>

namespace halvorn::host {
namespace {

constexpr double kRateTolerance = 0.005;
// The levels are whole decibels or tenths of one.
constexpr double kLevelToleranceDb = 0.05;

}  // namespace

HostMenus HostMenus::Read(ExtIoPlugin& plugin) {
  HostMenus menus;
  if (plugin.Provides("ExtIoGetSrates")) {
    double rate_hz = 0.0;
    for (int index = 0; index < kMostMenuEntries && plugin.ExtIoGetSrates(index, &rate_hz) == 0; ++index) {
      const long bandwidth_hz = plugin.Provides("ExtIoGetBandwidth") ? plugin.ExtIoGetBandwidth(index) : 0;
      menus.rates.push_back({index, rate_hz, bandwidth_hz});
    }
  }
  if (plugin.Provides("GetAttenuators")) {
    float level_db = 0.0f;
    for (int index = 0; index < kMostMenuEntries && plugin.GetAttenuators(index, &level_db) == 0; ++index) {
      menus.attenuators.push_back({index, level_db});
    }
  }
  return menus;
}

std::optional<int> HostMenus::RateIndexFor(double rate_hz) const {
  std::optional<int> nearest;
  double nearest_error = kRateTolerance;
  for (const RateEntry& entry : rates) {
    if (entry.rate_hz <= 0.0) continue;
    const double error = std::fabs(rate_hz - entry.rate_hz) / entry.rate_hz;
    if (error <= nearest_error) {
      nearest = entry.index;
      nearest_error = error;
    }
  }
  return nearest;
}

std::optional<int> HostMenus::AttenuatorIndexFor(double attenuation_db) const {
  for (const AttenuatorEntry& entry : attenuators) {
    if (std::fabs(entry.level_db + attenuation_db) <= kLevelToleranceDb) return entry.index;
  }
  return std::nullopt;
}

}  // namespace halvorn::host

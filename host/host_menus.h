// A plug-in's own sample-rate and attenuator menus, read through its
// extended entry points as hosts build theirs: entries from index 0 on until
// the plug-in says there are no more.
#pragma once

#include <optional>
#include <vector>

#include "host/extio_plugin.h"

namespace halvorn::host {

struct RateEntry {
  int index;
  double rate_hz;
  long bandwidth_hz;  // <= 0: the plug-in does not say
};

struct AttenuatorEntry {
  int index;
  float level_db;  // negative for attenuation
};

// A plug-in that never ends a list is cut off here.
inline constexpr int kMostMenuEntries = 64;

struct HostMenus {
  // Empty when the plug-in has no such menu.
  std::vector<RateEntry> rates;
  std::vector<AttenuatorEntry> attenuators;

  static HostMenus Read(ExtIoPlugin& plugin);

  // The entry of the rate within 0.5 % of `rate_hz`, the nearest if several.
  std::optional<int> RateIndexFor(double rate_hz) const;
  // The entry of `attenuation_db` dB of attenuation (a level of minus that).
  std::optional<int> AttenuatorIndexFor(double attenuation_db) const;
};

}  // namespace halvorn::host

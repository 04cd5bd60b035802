#include "tools/spectrum/axis_ticks.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace halvorn::spectrum {

double NiceStep(double span, int most_ticks) {
  if (!(span > 0.0) || most_ticks < 1) return 1.0;
  const double rough = span / most_ticks;
  const double decade = std::pow(10.0, std::floor(std::log10(rough)));
  for (double multiple : {1.0, 2.0, 5.0, 10.0}) {
    if (multiple * decade >= rough * (1.0 - 1e-9)) return multiple * decade;
  }
  return 10.0 * decade;
}

std::vector<double> TicksWithin(double low, double high, double step) {
  std::vector<double> ticks;
  const double tolerance = step * 1e-9;
  // Whole multiples, so that no rounding accumulates along the axis.
  for (auto k = static_cast<long long>(std::ceil((low - tolerance) / step)); static_cast<double>(k) * step <= high + tolerance; ++k) {
    ticks.push_back(static_cast<double>(k) * step);
  }
  return ticks;
}

FrequencyUnit UnitFor(double low_hz, double high_hz, double step_hz) {
  const double largest = std::max(std::fabs(low_hz), std::fabs(high_hz));
  FrequencyUnit unit;
  if (largest >= 1e6) {
    unit = {1e6, "MHz", 0};
  } else if (largest >= 1e3) {
    unit = {1e3, "kHz", 0};
  }
  const double step = step_hz / unit.hz_per_unit;
  unit.decimals = std::clamp(static_cast<int>(std::ceil(-std::log10(step) - 1e-9)), 0, 9);
  return unit;
}

std::string FrequencyLabel(double hz, const FrequencyUnit& unit) {
  double value = hz / unit.hz_per_unit;
  if (std::fabs(value) < 0.5 * std::pow(10.0, -unit.decimals)) value = 0.0;  // no "-0.000"
  char text[48];
  std::snprintf(text, sizeof text, "%.*f", unit.decimals, value);
  return text;
}

}  // namespace halvorn::spectrum

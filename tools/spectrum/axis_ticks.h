// Tick marks at round values, and frequencies written in the unit that suits
// them (MHz, kHz or Hz) with as many decimals as the step needs.
#pragma once

#include <string>
#include <vector>

namespace halvorn::spectrum {

// 1, 2 or 5 times a power of ten: the smallest such step giving at most
// `most_ticks` steps across `span`.
double NiceStep(double span, int most_ticks);

// The multiples of `step` from `low` to `high`, both included.
std::vector<double> TicksWithin(double low, double high, double step);

struct FrequencyUnit {
  double hz_per_unit = 1.0;
  const char* name = "Hz";
  int decimals = 0;
};

// The unit of the larger end of the range; decimals enough for `step_hz`.
FrequencyUnit UnitFor(double low_hz, double high_hz, double step_hz);

// The number alone, without the unit.
std::string FrequencyLabel(double hz, const FrequencyUnit& unit);

}  // namespace halvorn::spectrum

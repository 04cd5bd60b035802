// The strongest peaks of an averaged spectrum, each placed between bins by a
// parabola through the log levels of its bin and the two beside it.
#pragma once

#include <vector>

namespace halvorn::spectrum {

struct Peak {
  double offset_bins = 0.0;  // from the centre bin (frequency 0), fractional
  double level_db = 0.0;     // the parabola's top
};

// `power` in frequency order, bin j at offset j - size / 2. A peak is a bin
// stronger than every other within `guard_bins` on either side (the first of
// equal ones), above the floor and not one of the two outermost. Strongest
// first, at most `count`.
std::vector<Peak> StrongestPeaks(const std::vector<double>& power, int count, int guard_bins);

}  // namespace halvorn::spectrum

#include "tools/spectrum/peaks.h"

#include <algorithm>

#include "tools/spectrum/spectrum_analysis.h"

namespace halvorn::spectrum {

std::vector<Peak> StrongestPeaks(const std::vector<double>& power, int count, int guard_bins) {
  const int size = static_cast<int>(power.size());
  std::vector<double> db(power.size());
  std::transform(power.begin(), power.end(), db.begin(), PowerToDb);

  std::vector<Peak> peaks;
  // The two outermost bins lie at the band's edges, with no neighbour on one side.
  for (int j = 1; j + 1 < size; ++j) {
    const double level = db[static_cast<std::size_t>(j)];
    if (level <= kFloorDb) continue;
    bool highest = true;
    for (int i = std::max(0, j - guard_bins); i < j && highest; ++i) highest = db[static_cast<std::size_t>(i)] < level;
    for (int i = j + 1; i <= std::min(size - 1, j + guard_bins) && highest; ++i) {
      highest = db[static_cast<std::size_t>(i)] <= level;
    }
    if (!highest) continue;
    Peak peak{static_cast<double>(j - size / 2), level};
    const double left = db[static_cast<std::size_t>(j - 1)];
    const double right = db[static_cast<std::size_t>(j + 1)];
    const double curvature = left - 2.0 * level + right;
    if (curvature < 0.0) {
      const double shift = std::clamp(0.5 * (left - right) / curvature, -0.5, 0.5);
      peak.offset_bins += shift;
      peak.level_db = level - 0.25 * (left - right) * shift;
    }
    peaks.push_back(peak);
  }
  const auto kept = std::min<std::size_t>(peaks.size(), static_cast<std::size_t>(std::max(0, count)));
  std::partial_sort(peaks.begin(), peaks.begin() + static_cast<std::ptrdiff_t>(kept), peaks.end(),
                    [](const Peak& a, const Peak& b) { return a.level_db > b.level_db; });
  peaks.resize(kept);
  return peaks;
}

}  // namespace halvorn::spectrum

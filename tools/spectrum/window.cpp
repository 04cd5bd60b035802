#include "tools/spectrum/window.h"

#include <cmath>
#include <numbers>

namespace halvorn::spectrum {

std::vector<double> BlackmanHarris(int size) {
  constexpr double a0 = 0.35875, a1 = 0.48829, a2 = 0.14128, a3 = 0.01168;
  std::vector<double> window(static_cast<std::size_t>(size));
  for (int n = 0; n < size; ++n) {
    const double phase = 2.0 * std::numbers::pi * n / size;
    window[static_cast<std::size_t>(n)] =
        a0 - a1 * std::cos(phase) + a2 * std::cos(2.0 * phase) - a3 * std::cos(3.0 * phase);
  }
  return window;
}

}  // namespace halvorn::spectrum

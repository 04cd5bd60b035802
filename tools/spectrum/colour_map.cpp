#include "tools/spectrum/colour_map.h"

#include <algorithm>
#include <cmath>
#include <iterator>

namespace halvorn::spectrum {
namespace {

struct Stop {
  double at;
  double red, green, blue;
};

constexpr Stop kStops[] = {
    {0.00, 0, 0, 8},       {0.20, 8, 20, 90},     {0.40, 10, 90, 200},  {0.55, 20, 190, 220},
    {0.70, 240, 230, 60},  {0.85, 255, 120, 20},  {0.95, 230, 30, 30},  {1.00, 255, 235, 235},
};

std::uint8_t Channel(double value) { return static_cast<std::uint8_t>(std::lround(std::clamp(value, 0.0, 255.0))); }

}  // namespace

Rgb ColourAt(double position) {
  if (!(position > 0.0)) position = 0.0;  // also NaN
  position = std::min(position, 1.0);
  const Stop* upper = std::begin(kStops) + 1;
  while (upper != std::end(kStops) - 1 && upper->at < position) ++upper;
  const Stop& lower = *(upper - 1);
  const double t = (position - lower.at) / (upper->at - lower.at);
  return {Channel(lower.red + t * (upper->red - lower.red)), Channel(lower.green + t * (upper->green - lower.green)),
          Channel(lower.blue + t * (upper->blue - lower.blue))};
}

}  // namespace halvorn::spectrum

// The waterfall's colours: the noise dark blue, growing signals through cyan
// and yellow to red, the strongest white, as operators know them from their
// receivers' waterfalls.
#pragma once

#include <cstdint>

namespace halvorn::spectrum {

struct Rgb {
  std::uint8_t red = 0;
  std::uint8_t green = 0;
  std::uint8_t blue = 0;
};

// `position` 0 (weakest) to 1 (strongest); outside that it is held at the ends.
Rgb ColourAt(double position);

}  // namespace halvorn::spectrum

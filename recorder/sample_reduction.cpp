#include "recorder/sample_reduction.h"

namespace halvorn::recorder {

void ReduceBlock(const std::uint8_t* pairs, int pair_count, std::uint8_t* out) {
  const int components = pair_count * 2;
  for (int i = 0; i < components; ++i, pairs += 3, out += 2) {
    const auto value = static_cast<std::uint16_t>(ReduceComponent(pairs));
    out[0] = static_cast<std::uint8_t>(value);
    out[1] = static_cast<std::uint8_t>(value >> 8);
  }
}

}  // namespace halvorn::recorder

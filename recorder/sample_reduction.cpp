#include "recorder/sample_reduction.h"

namespace halvorn::recorder {

// Indexed rather than walking pointers, and without aliasing, so the compiler
// keeps the loads and stores of neighbouring components apart.
void ReduceBlock(const std::uint8_t* __restrict pairs, int pair_count, std::uint8_t* __restrict out) {
  const int components = pair_count * 2;
  for (int i = 0; i < components; ++i) {
    const auto value = static_cast<std::uint16_t>(ReduceComponent(pairs + 3 * i));
    out[2 * i] = static_cast<std::uint8_t>(value);
    out[2 * i + 1] = static_cast<std::uint8_t>(value >> 8);
  }
}

}  // namespace halvorn::recorder

// The 2 MS/s row is recorded with 16-bit components: each 24-bit component
// divided by 256 and rounded to nearest, a half rounding up.
#pragma once

#include <algorithm>
#include <cstdint>

namespace halvorn::recorder {

// `component` points at three bytes, least significant first. The 128 largest
// components would round to 32768, which 16 bits cannot hold: they give 32767.
inline std::int16_t ReduceComponent(const std::uint8_t* component) {
  const int upper = static_cast<std::int16_t>(component[1] | (component[2] << 8));
  const int rounded = upper + (component[0] >> 7);
  return static_cast<std::int16_t>(std::min(rounded, INT16_MAX));
}

// Reduces `pair_count` pairs of two 24-bit components (6 bytes) into pairs of
// two little-endian 16-bit components (4 bytes) at `out`, which must not
// overlap the input.
void ReduceBlock(const std::uint8_t* __restrict pairs, int pair_count, std::uint8_t* __restrict out);

}  // namespace halvorn::recorder

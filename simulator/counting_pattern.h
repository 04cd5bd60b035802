// The counting pattern the simulated receiver can send instead of a signal:
// pair k of a stream (k = 0 at StartAsyncInput) carries the low 24 bits of k
// as its first component and the next 24 bits as its second, so every pair of
// the first 2^48 is unique and a lost, repeated or reordered pair shows.
#pragma once

#include <cstdint>

namespace halvorn::simulator {

inline constexpr int kPairBytes = 6;

inline void WriteCountingPair(std::uint64_t k, std::uint8_t* pair) {
  for (int byte = 0; byte < 6; ++byte) pair[byte] = static_cast<std::uint8_t>(k >> (8 * byte));
}

// The pair index a counting pair carries.
inline std::uint64_t ReadCountingPair(const std::uint8_t* pair) {
  std::uint64_t k = 0;
  for (int byte = 0; byte < 6; ++byte) k |= static_cast<std::uint64_t>(pair[byte]) << (8 * byte);
  return k;
}

}  // namespace halvorn::simulator

// What a recording stores for a pair the host received, stated apart from
// the recorder's code so that the two cannot share a mistake: the pair as it
// came, or at the 2 MS/s row each component rounded to 16 bits.
#pragma once

#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "ports/sample_block.h"
#include "receiver/sample_rate_table.h"
#include "simulator/counting_pattern.h"

namespace halvorn::testing {

// The signed value of a 24-bit component, least significant byte first.
inline std::int32_t Component24(const std::uint8_t* bytes) {
  const std::int32_t raw = bytes[0] | bytes[1] << 8 | bytes[2] << 16;
  return raw >= 0x800000 ? raw - 0x1000000 : raw;
}

// A 24-bit component divided by 256, rounded to the nearest integer with
// halves upward; the 128 largest would give 32768 and are kept at 32767.
inline std::int16_t Rounded16(std::int32_t component) {
  const std::int32_t shifted = component + 128;
  const std::int32_t floor_quotient = shifted >= 0 ? shifted / 256 : -((-shifted + 255) / 256);
  return static_cast<std::int16_t>(std::min(floor_quotient, 32767));
}

inline int StoredBits(int row) { return row == receiver::kTwoMegaSampleIndex ? 16 : 24; }
inline int StoredPairBytes(int row) { return StoredBits(row) / 4; }
inline std::size_t StoredBlockBytes(int row) { return std::size_t{kBlockPairs} * StoredPairBytes(row); }

// The bytes a recording at `row` holds for one pair the host received.
inline void StorePair(const std::uint8_t* host_pair, int row, std::uint8_t* out) {
  if (StoredBits(row) == 24) {
    std::memcpy(out, host_pair, kPairBytes);
    return;
  }
  for (int component = 0; component < 2; ++component) {
    const auto value = static_cast<std::uint16_t>(Rounded16(Component24(host_pair + 3 * component)));
    out[2 * component] = static_cast<std::uint8_t>(value);
    out[2 * component + 1] = static_cast<std::uint8_t>(value >> 8);
  }
}

// The bytes a recording at `row` holds for one block the host received.
inline std::vector<std::uint8_t> StoreBlock(const std::uint8_t* host_block, int row) {
  std::vector<std::uint8_t> stored(StoredBlockBytes(row));
  for (int pair = 0; pair < kBlockPairs; ++pair) {
    StorePair(host_block + pair * kPairBytes, row, stored.data() + pair * StoredPairBytes(row));
  }
  return stored;
}

// The bytes a recording at `row` holds for counting pair k.
inline void StoreCountingPair(std::uint64_t k, int row, std::uint8_t* out) {
  std::uint8_t host_pair[kPairBytes];
  simulator::WriteCountingPair(k, host_pair);
  StorePair(host_pair, row, out);
}

}  // namespace halvorn::testing

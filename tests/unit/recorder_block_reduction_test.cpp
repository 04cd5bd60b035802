// The whole-block reduction to 16 bits, taken four pairs at a time, against
// the rule for one component, over every way a block can end.
#include <gtest/gtest.h>

#include <cstdint>
#include <vector>

#include "recorder/sample_reduction.h"

namespace halvorn::recorder {
namespace {

std::vector<std::uint8_t> Components(std::size_t count, std::uint32_t seed) {
  // The extremes and the rounding edges first, then noise.
  const std::int32_t edges[] = {-8388608, -8388607, -129, -128, -1, 0, 127, 128, 255, 256,
                                8388479, 8388480, 8388607, 32767 * 256 + 127, -32768 * 256};
  std::vector<std::uint8_t> bytes;
  for (std::size_t i = 0; i < count; ++i) {
    std::uint32_t value = 0;
    if (i < std::size(edges)) {
      value = static_cast<std::uint32_t>(edges[i]);
    } else {
      seed = seed * 1664525u + 1013904223u;
      value = seed >> 8;
    }
    bytes.push_back(static_cast<std::uint8_t>(value));
    bytes.push_back(static_cast<std::uint8_t>(value >> 8));
    bytes.push_back(static_cast<std::uint8_t>(value >> 16));
  }
  return bytes;
}

std::vector<std::uint8_t> OneByOne(const std::vector<std::uint8_t>& pairs) {
  std::vector<std::uint8_t> out;
  for (std::size_t at = 0; at < pairs.size(); at += 3) {
    const auto value = static_cast<std::uint16_t>(ReduceComponent(&pairs[at]));
    out.push_back(static_cast<std::uint8_t>(value));
    out.push_back(static_cast<std::uint8_t>(value >> 8));
  }
  return out;
}

TEST(BlockReduction, AWholeBlockIsEachComponentReducedByTheRule) {
  const auto pairs = Components(2 * 1024, 99);
  std::vector<std::uint8_t> out(4096, 0xAA);
  ReduceBlock(pairs.data(), 1024, out.data());
  EXPECT_EQ(out, OneByOne(pairs));
}

// Every length up to a few groups of four, so that each way the block ends
// meets the rule, and nothing is written or read beyond the pairs.
TEST(BlockReduction, EveryLengthEndsRightAndStaysInsideItsBuffers) {
  for (int pair_count = 1; pair_count <= 21; ++pair_count) {
    const auto pairs = Components(2 * static_cast<std::size_t>(pair_count), 7u + static_cast<std::uint32_t>(pair_count));
    // Exactly the input's size on the heap, so that AddressSanitizer sees a read past it.
    const std::vector<std::uint8_t> input(pairs);
    std::vector<std::uint8_t> out(4 * static_cast<std::size_t>(pair_count) + 8, 0xAA);
    ReduceBlock(input.data(), pair_count, out.data());
    std::vector<std::uint8_t> expected = OneByOne(pairs);
    expected.insert(expected.end(), 8, 0xAA);
    EXPECT_EQ(out, expected) << pair_count << " pairs";
  }
}

}  // namespace
}  // namespace halvorn::recorder

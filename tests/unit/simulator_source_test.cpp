#include <cstdint>
#include <vector>

#include <gtest/gtest.h>

#include "simulator/counting_pattern.h"
#include "simulator/counting_source.h"

namespace halvorn::simulator {
namespace {

constexpr std::uint8_t kGuard = 0xA5;

// A buffer of `pairs` pairs, filled with garbage, and guard bytes after it.
std::vector<std::uint8_t> Dirty(std::size_t pairs) { return std::vector<std::uint8_t>(pairs * kPairBytes + 8, kGuard); }

bool GuardIntact(const std::vector<std::uint8_t>& buffer, std::size_t pairs) {
  for (std::size_t i = pairs * kPairBytes; i < buffer.size(); ++i) {
    if (buffer[i] != kGuard) return false;
  }
  return true;
}

TEST(CountingSourceTest, EveryPairCarriesItsIndexAcrossCallsOfAnySizeAndNothingPastTheEndIsWritten) {
  CountingSource source;
  std::uint64_t k = 0;
  for (std::size_t count : {1u, 2u, 1023u, 16384u, 3u, 1u}) {
    std::vector<std::uint8_t> buffer = Dirty(count);
    source.Generate(buffer.data(), count);
    for (std::size_t pair = 0; pair < count; ++pair, ++k) {
      ASSERT_EQ(ReadCountingPair(buffer.data() + pair * kPairBytes), k) << "call of " << count;
    }
    EXPECT_TRUE(GuardIntact(buffer, count)) << "call of " << count;
  }
  // The second component carries the index's upper 24 bits.
  CountingSource far;
  std::vector<std::uint8_t> skip(((1u << 24) + 1) * kPairBytes);
  far.Generate(skip.data(), (1u << 24) + 1);
  EXPECT_EQ(ReadCountingPair(skip.data() + (std::size_t{1} << 24) * kPairBytes), 1u << 24);
  EXPECT_EQ(skip[(std::size_t{1} << 24) * kPairBytes + 3], 1);
}

// What a host sees of the block-counting pattern: pair k is k at block
// starts and zero between.
void ExpectBlockPattern(const std::uint8_t* pairs, std::size_t count, std::uint64_t first) {
  for (std::size_t pair = 0; pair < count; ++pair) {
    const std::uint64_t k = first + pair;
    const std::uint64_t expected = k % BlockCountingSource::kBlockPairs == 0 ? k : 0;
    ASSERT_EQ(ReadCountingPair(pairs + pair * kPairBytes), expected) << "pair " << k;
  }
}

TEST(BlockCountingSourceTest, WholeBlockTransfersIntoOneBufferKeepTheZerosBetweenBlockStarts) {
  BlockCountingSource source;
  constexpr std::size_t kPairs = 16 * 1024;
  std::vector<std::uint8_t> transfer = Dirty(kPairs);
  for (int call = 0; call < 3; ++call) {
    source.Generate(transfer.data(), kPairs);
    ExpectBlockPattern(transfer.data(), kPairs, call * kPairs);
    EXPECT_TRUE(GuardIntact(transfer, kPairs));
  }
}

TEST(BlockCountingSourceTest, CallsAtAnotherPlaceOrPhaseLeaveNoStaleBlockStarts) {
  BlockCountingSource source;
  std::vector<std::uint8_t> buffer = Dirty(4096);
  std::uint64_t next = 0;
  // Same place, then a call that ends mid-block, then the same place at
  // another phase: each must read as the pattern, whatever was there.
  for (std::size_t count : {2048u, 2048u, 1000u, 1000u, 1000u, 4096u, 1u, 4096u}) {
    source.Generate(buffer.data(), count);
    ExpectBlockPattern(buffer.data(), count, next);
    next += count;
  }
  std::vector<std::uint8_t> elsewhere = Dirty(3000);
  source.Generate(elsewhere.data() + kPairBytes, 2000);
  ExpectBlockPattern(elsewhere.data() + kPairBytes, 2000, next);
}

}  // namespace
}  // namespace halvorn::simulator

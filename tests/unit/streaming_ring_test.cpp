// The ring on its own: whole blocks in arrival order, and each block told how
// many blocks were dropped right before it, so a gap is placed exactly.
#include <gtest/gtest.h>

#include <atomic>
#include <vector>

#include "streaming/sample_ring.h"

namespace halvorn::streaming {
namespace {

constexpr int kSlots = 4;
constexpr int kSlotBytes = 8;

struct Delivered {
  std::uint8_t first_byte;
  std::uint32_t drops_before;
};

class RingTest : public ::testing::Test {
 protected:
  // Writes one block whose bytes all carry `label`.
  int WriteBlock(std::uint8_t label) {
    const std::vector<std::uint8_t> block(kSlotBytes, label);
    return ring_.Write(block.data(), block.size());
  }
  std::vector<Delivered> Drain(int most = kSlots) {
    std::vector<Delivered> delivered;
    const std::atomic<bool> stop{false};
    ring_.Drain(
        [&](std::uint8_t* block, std::uint32_t drops_before) {
          if (static_cast<int>(delivered.size()) < most) delivered.push_back({block[0], drops_before});
        },
        stop);
    return delivered;
  }

  std::vector<std::uint8_t> memory_ = std::vector<std::uint8_t>(SampleRing::MemoryBytes(kSlots, kSlotBytes));
  SampleRing ring_{memory_.data(), kSlots, kSlotBytes};
};

TEST_F(RingTest, AFullRingDropsWholeBlocksAndTheNextBlockCarriesTheirCount) {
  for (std::uint8_t label = 1; label <= 4; ++label) EXPECT_EQ(WriteBlock(label), 1);
  // Full: the next three blocks are dropped whole.
  for (std::uint8_t label = 5; label <= 7; ++label) EXPECT_EQ(WriteBlock(label), 0);
  EXPECT_EQ(ring_.dropped_blocks(), 3u);

  const auto first = Drain();
  ASSERT_EQ(first.size(), 4u);
  for (int i = 0; i < 4; ++i) {
    EXPECT_EQ(first[i].first_byte, i + 1);
    EXPECT_EQ(first[i].drops_before, 0u);
  }
  EXPECT_EQ(WriteBlock(8), 1);
  EXPECT_EQ(WriteBlock(9), 1);
  const auto second = Drain();
  ASSERT_EQ(second.size(), 2u);
  EXPECT_EQ(second[0].first_byte, 8);
  EXPECT_EQ(second[0].drops_before, 3u);  // blocks 5 to 7 lie between 4 and 8
  EXPECT_EQ(second[1].drops_before, 0u);
}

TEST_F(RingTest, ABlockSplitAcrossWritesIsWholeAndCountsTheDropsBeforeIt) {
  for (std::uint8_t label = 1; label <= 4; ++label) WriteBlock(label);
  WriteBlock(5);  // dropped
  Drain();
  const std::vector<std::uint8_t> halves(kSlotBytes / 2, 6);
  EXPECT_EQ(ring_.Write(halves.data(), halves.size()), 0);
  EXPECT_EQ(ring_.Write(halves.data(), halves.size()), 1);
  const auto delivered = Drain();
  ASSERT_EQ(delivered.size(), 1u);
  EXPECT_EQ(delivered[0].first_byte, 6);
  EXPECT_EQ(delivered[0].drops_before, 1u);
}

}  // namespace
}  // namespace halvorn::streaming

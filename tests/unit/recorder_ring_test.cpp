// The ring between the delivery thread and the recording's writing thread:
// room, pieces that stop at the end of the memory, and positions that wrap.
#include "recorder/recording_ring.h"

#include <gtest/gtest.h>

#include <numeric>
#include <vector>

namespace halvorn::recorder {
namespace {

using Bytes = std::vector<std::uint8_t>;

Bytes Counting(std::size_t count, std::uint8_t first) {
  Bytes bytes(count);
  std::iota(bytes.begin(), bytes.end(), first);
  return bytes;
}

Bytes Read(const RecordingRing& ring, std::uint32_t from, std::uint32_t to) {
  Bytes out;
  while (from != to) {
    const RecordingRing::Piece piece = ring.PieceBetween(from, to);
    out.insert(out.end(), piece.data, piece.data + piece.bytes);
    from += piece.bytes;
  }
  return out;
}

TEST(RecordingRing, HoldsItsCapacityAndNoMoreUntilReleased) {
  auto ring = RecordingRing::Create(4096);
  ASSERT_NE(ring, nullptr);
  EXPECT_TRUE(ring->HasRoomFor(4096));
  EXPECT_FALSE(ring->HasRoomFor(4097));
  ring->Store(Counting(3000, 0).data(), 3000);
  ring->Publish();
  EXPECT_FALSE(ring->HasRoomFor(1097));
  EXPECT_TRUE(ring->HasRoomFor(1096));
  ring->Release(1000);
  EXPECT_TRUE(ring->HasRoomFor(2096));
}

TEST(RecordingRing, ACapacityIsRoundedUpToAPowerOfTwo) {
  auto ring = RecordingRing::Create(5000);
  ASSERT_NE(ring, nullptr);
  EXPECT_TRUE(ring->HasRoomFor(8192));
  EXPECT_FALSE(ring->HasRoomFor(8193));
}

TEST(RecordingRing, BytesThatWouldWrapAreNotClaimedInOnePieceButStoredInTwo) {
  auto ring = RecordingRing::Create(4096);
  ring->Store(Counting(4000, 0).data(), 4000);
  ring->Publish();
  ring->Release(4000);
  EXPECT_EQ(ring->ClaimContiguous(200), nullptr);
  const Bytes wrapping = Counting(200, 7);
  ring->Store(wrapping.data(), static_cast<std::uint32_t>(wrapping.size()));
  ring->Publish();
  EXPECT_EQ(ring->published(), 4200u);
  const RecordingRing::Piece first = ring->PieceBetween(4000, 4200);
  EXPECT_EQ(first.bytes, 96u);
  EXPECT_EQ(Read(*ring, 4000, 4200), wrapping);
}

TEST(RecordingRing, AClaimedPieceIsWhatTheConsumerReadsOncePublished) {
  auto ring = RecordingRing::Create(4096);
  std::uint8_t* place = ring->ClaimContiguous(100);
  ASSERT_NE(place, nullptr);
  const Bytes block = Counting(100, 50);
  std::copy(block.begin(), block.end(), place);
  EXPECT_EQ(ring->published(), 0u);
  ring->Publish();
  EXPECT_EQ(ring->published(), 100u);
  EXPECT_EQ(Read(*ring, 0, 100), block);
}

// Positions count on past 2^32; only their difference matters.
TEST(RecordingRing, PositionsWrapAroundTheirThirtyTwoBits) {
  auto ring = RecordingRing::Create(4096);
  std::uint32_t position = 0;
  const Bytes chunk = Counting(4000, 3);
  for (std::uint64_t total = 0; total < (1ull << 32) + 8000; total += chunk.size()) {
    std::uint8_t* place = ring->ClaimContiguous(static_cast<std::uint32_t>(chunk.size()));
    if (place != nullptr) {
      std::copy(chunk.begin(), chunk.end(), place);
    } else {
      ring->Store(chunk.data(), static_cast<std::uint32_t>(chunk.size()));
    }
    ring->Publish();
    position += static_cast<std::uint32_t>(chunk.size());
    ring->Release(position);
    if (total > (1ull << 32) - 3 * chunk.size()) {
      ASSERT_EQ(Read(*ring, position - 4000, position), chunk) << total;
    }
  }
  EXPECT_LT(position, 16000u);
  EXPECT_TRUE(ring->HasRoomFor(4096));
}

}  // namespace
}  // namespace halvorn::recorder

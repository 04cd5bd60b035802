// The oracles the other tests lean on, held to what they must catch: the
// counting host follows streams and names every break in the pattern, and
// the recording oracle tells the stored counting pattern from anything else.
#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <fstream>
#include <string>
#include <vector>

#include "ports/sample_block.h"
#include "receiver/sample_rate_table.h"
#include "recorder/wav_header.h"
#include "simulator/counting_pattern.h"
#include "tests/support/counting_host.h"
#include "tests/support/recording_oracle.h"
#include "tests/support/scratch_directory.h"
#include "tests/support/stored_form.h"

namespace halvorn::testing {
namespace {

using Bytes = std::vector<std::uint8_t>;
constexpr int kTwoMegaRow = receiver::kTwoMegaSampleIndex;

Bytes HostBlock(std::uint64_t first_pair) {
  Bytes block(kBlockBytes);
  for (int i = 0; i < kBlockPairs; ++i) simulator::WriteCountingPair(first_pair + i, &block[i * kPairBytes]);
  return block;
}

Bytes StoredBlock(std::uint64_t first_pair, int row) { return StoreBlock(HostBlock(first_pair).data(), row); }

// ---- The counting host ---------------------------------------------------------------

class CountingHostTest : public ::testing::Test {
 protected:
  CountingHostTest() {
    host_.Reset();
    host_.set_check_counting(true);
  }
  ~CountingHostTest() override { host_.set_check_counting(false); }

  void Deliver(std::uint64_t first_pair) {
    Bytes block = HostBlock(first_pair);
    CountingHost::Callback(kBlockPairs, 0, 0.0f, block.data());
  }

  CountingHost& host_ = CountingHost::Instance();
};

TEST_F(CountingHostTest, AStreamThatStartsAgainAtPairZeroIsANewStreamNotAStepBack) {
  for (std::uint64_t block = 0; block < 4; ++block) Deliver(block * kBlockPairs);
  for (std::uint64_t block = 0; block < 2; ++block) Deliver(block * kBlockPairs);
  EXPECT_EQ(host_.blocks(), 6u);
  EXPECT_EQ(host_.streams(), 2u);
  EXPECT_EQ(host_.missing_pairs(), 0u);
  EXPECT_EQ(host_.out_of_order_pairs(), 0u);
  EXPECT_EQ(host_.pairs_checked(), 6u * kBlockPairs);
  EXPECT_EQ(host_.first_pair(), 0u);
  EXPECT_EQ(host_.next_pair(), 2u * kBlockPairs);
  EXPECT_TRUE(host_.faults().empty());
}

TEST_F(CountingHostTest, BlocksSkippedAreMissingAndABlockRepeatedIsAFault) {
  Deliver(0);
  Deliver(3 * kBlockPairs);
  EXPECT_EQ(host_.missing_pairs(), 2u * kBlockPairs);
  EXPECT_TRUE(host_.faults().empty());
  Deliver(3 * kBlockPairs);
  EXPECT_EQ(host_.out_of_order_pairs(), std::uint64_t{kBlockPairs});
  ASSERT_EQ(host_.faults().size(), 1u);
  EXPECT_NE(host_.faults()[0].find("repeats or goes back"), std::string::npos) << host_.faults()[0];
}

TEST_F(CountingHostTest, TornMisplacedAndMalformedBlocksAreFaults) {
  Bytes torn = HostBlock(0);
  simulator::WriteCountingPair(7, &torn[100 * kPairBytes]);
  CountingHost::Callback(kBlockPairs, 0, 0.0f, torn.data());
  EXPECT_EQ(host_.torn_blocks(), 1u);
  Deliver(kBlockPairs + 5);
  Bytes block = HostBlock(0);
  CountingHost::Callback(kBlockPairs - 1, 0, 0.0f, block.data());
  EXPECT_EQ(host_.malformed_blocks(), 1u);
  EXPECT_EQ(host_.blocks(), 2u) << "a malformed call is no block";
  const auto faults = host_.faults();
  ASSERT_EQ(faults.size(), 3u);
  EXPECT_NE(faults[0].find("torn"), std::string::npos) << faults[0];
  EXPECT_NE(faults[1].find("not on a block boundary"), std::string::npos) << faults[1];
  EXPECT_NE(faults[2].find("malformed"), std::string::npos) << faults[2];
}

TEST_F(CountingHostTest, AfterAResyncTheNextBlockJoinsItsStreamWithoutAGap) {
  Deliver(0);
  host_.Resync();
  Deliver(10 * kBlockPairs);
  Deliver(11 * kBlockPairs);
  EXPECT_EQ(host_.missing_pairs(), 0u);
  EXPECT_EQ(host_.streams(), 1u);
  EXPECT_TRUE(host_.faults().empty());
}

TEST_F(CountingHostTest, StatusesAreKeptAndTakenOnceAndAStatusCallWithDataIsAFault) {
  CountingHost::Callback(-1, 100, 0.0f, nullptr);
  CountingHost::Callback(-1, 102, 0.0f, nullptr);
  EXPECT_EQ(host_.TakeStatuses(), (std::vector<int>{100, 102}));
  int data = 0;
  CountingHost::Callback(-1, 103, 0.0f, &data);
  EXPECT_EQ(host_.TakeStatuses(), std::vector<int>{103});
  EXPECT_EQ(host_.statuses(), (std::vector<int>{100, 102, 103}));
  ASSERT_EQ(host_.faults().size(), 1u);
  EXPECT_NE(host_.faults()[0].find("status call 103"), std::string::npos) << host_.faults()[0];
}

// ---- The rounding rule -------------------------------------------------------------

TEST(StoredFormTest, ComponentsRoundToNearestWithHalvesUpAndTheLargestSaturate) {
  EXPECT_EQ(Rounded16(-8388608), -32768);
  EXPECT_EQ(Rounded16(-129), -1);
  EXPECT_EQ(Rounded16(-128), 0);
  EXPECT_EQ(Rounded16(127), 0);
  EXPECT_EQ(Rounded16(128), 1);
  EXPECT_EQ(Rounded16(8388479), 32767);
  EXPECT_EQ(Rounded16(8388480), 32767);
  EXPECT_EQ(Rounded16(8388607), 32767);
}

TEST(StoredFormTest, TwentyFourBitRowsStoreThePairAsItCameAndTheTwoMegaRowItsRoundedComponents) {
  std::uint8_t host_pair[kPairBytes] = {0x80, 0x12, 0x00, 0x7F, 0xFF, 0xFF};
  std::uint8_t stored[kPairBytes] = {};
  StorePair(host_pair, 0, stored);
  EXPECT_EQ(Bytes(stored, stored + 6), Bytes(host_pair, host_pair + 6));
  StorePair(host_pair, kTwoMegaRow, stored);
  // 0x001280 / 256 = 18.5, up to 19; -129 / 256 = -0.504, to -1.
  EXPECT_EQ(Bytes(stored, stored + 4), (Bytes{19, 0, 0xFF, 0xFF}));
}

// ---- Following a recording ---------------------------------------------------------

TEST(StoredCountingFollowerTest, FollowsBlocksSkipsAndNewStreamsAndNamesAnythingElse) {
  StoredCountingFollower follower;
  follower.BeginFile(0);
  EXPECT_EQ(follower.Follow(StoredBlock(5 * kBlockPairs, 0).data(), kBlockPairs), "");
  EXPECT_EQ(follower.Follow(StoredBlock(6 * kBlockPairs, 0).data(), kBlockPairs), "");
  EXPECT_EQ(follower.Follow(StoredBlock(9 * kBlockPairs, 0).data(), kBlockPairs), "");
  EXPECT_EQ(follower.Follow(StoredBlock(0, 0).data(), kBlockPairs), "");
  EXPECT_EQ(follower.blocks(), 4u);
  EXPECT_EQ(follower.skipped_pairs(), 2u * kBlockPairs);
  EXPECT_EQ(follower.restarts(), 1u);
  EXPECT_EQ(follower.first_pair(), 5u * kBlockPairs);

  EXPECT_EQ(follower.Follow(StoredBlock(kBlockPairs, 0).data(), kBlockPairs), "");
  EXPECT_NE(follower.Follow(StoredBlock(kBlockPairs, 0).data(), kBlockPairs), "") << "a block repeated";
  EXPECT_NE(follower.Follow(StoredBlock(3 * kBlockPairs + 1, 0).data(), kBlockPairs), "") << "off the blocks";
  Bytes torn = StoredBlock(2 * kBlockPairs, 0);
  torn[500] ^= 1;
  EXPECT_NE(follower.Follow(torn.data(), kBlockPairs).find("not the stored form"), std::string::npos);
  EXPECT_EQ(follower.Follow(StoredBlock(2 * kBlockPairs, 0).data(), kBlockPairs), "");
}

TEST(StoredCountingFollowerTest, AtTwoMegaSamplesItFollowsAcrossTheSixteenBitIndexRangeAndCatchesARoundingSlip) {
  StoredCountingFollower follower;
  follower.BeginFile(kTwoMegaRow);
  // The first component holds the index only modulo 2^24; the stream goes on past it.
  const std::uint64_t wrap = std::uint64_t{1} << 24;
  for (std::uint64_t first = wrap - 2 * kBlockPairs; first < wrap + 2 * kBlockPairs; first += kBlockPairs) {
    ASSERT_EQ(follower.Follow(StoredBlock(first, kTwoMegaRow).data(), kBlockPairs), "") << first;
  }
  EXPECT_EQ(follower.skipped_pairs(), 0u);
  EXPECT_EQ(follower.restarts(), 0u);

  Bytes slipped = StoredBlock(wrap + 2 * kBlockPairs, kTwoMegaRow);
  slipped[4 * 128] ^= 1;  // pair 128's first component, a half rounded the wrong way
  EXPECT_NE(follower.Follow(slipped.data(), kBlockPairs).find("not the stored form"), std::string::npos);
}

// ---- A recording's layout ------------------------------------------------------------

StoredRecording Recording(int row, std::uint64_t data_bytes) {
  receiver::ReceiverSettings settings;
  settings.lo_hz = 7050000;
  settings.sample_rate_index = row;
  const auto header = recorder::EncodeWavHeader(settings, 1798761599);
  Bytes bytes(header.begin(), header.end());
  // The sizes a finished file of this length carries.
  const auto put32 = [&bytes](std::size_t at, std::uint64_t value) {
    for (int i = 0; i < 4; ++i) bytes[at + i] = static_cast<std::uint8_t>(value >> (8 * i));
  };
  put32(4, kRecordingHeaderBytes + data_bytes - 8);
  put32(86, data_bytes);
  bytes.resize(kRecordingHeaderBytes + data_bytes);
  return StoredRecording("test.wav", std::move(bytes));
}

TEST(RecordingLayoutTest, AFinishedFileInItsRowsFormatPassesAndOneWithWrongSizesOrFormatDoesNot) {
  EXPECT_EQ(LayoutProblem(Recording(0, 6144)), "");
  EXPECT_EQ(LayoutProblem(Recording(kTwoMegaRow, 4096)), "");

  StoredRecording unfinished = Recording(0, 6144);
  unfinished.bytes[87] = 0;  // a data size of 0, as a recording never stopped
  EXPECT_NE(LayoutProblem(unfinished).find("data size"), std::string::npos);

  StoredRecording wrong_bits = Recording(kTwoMegaRow, 4096);
  wrong_bits.bytes[34] = 24;
  EXPECT_NE(LayoutProblem(wrong_bits).find("does not fit row"), std::string::npos);

  EXPECT_NE(LayoutProblem(StoredRecording("short.wav", Bytes(40))), "");
}

TEST(RecordingLayoutTest, FilesAreOrderedByTheirStartTimeAndThenAsCopiesAreNamed) {
  ScratchDirectory scratch;
  const auto write = [&](const std::string& name, std::int64_t start) {
    Bytes header(kRecordingHeaderBytes);
    for (int i = 0; i < 8; ++i)
      header[52 + i] = static_cast<std::uint8_t>(static_cast<std::uint64_t>(start) >> (8 * i));
    std::ofstream(scratch / name, std::ios::binary).write(reinterpret_cast<const char*>(header.data()), 90);
  };
  write("b.wav", 20);
  write("a (2).wav", 10);
  write("a.wav", 10);
  write("c.wav", 5);
  const std::string directory = scratch.path().string();
  EXPECT_EQ(InOrderOfMaking(directory, RecordingFilesIn(directory)),
            (std::vector<std::string>{"c.wav", "a.wav", "a (2).wav", "b.wav"}));
}

}  // namespace
}  // namespace halvorn::testing

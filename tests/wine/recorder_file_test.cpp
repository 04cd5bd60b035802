// What the real DLL writes when the panel's "Rec" and "Stop" are clicked: the
// bare header of a recording without samples, exactly the blocks the host got
// while the file was open at 125 kS/s and, rounded to 16 bits, at 2 MS/s,
// whole blocks when a stop races the stream, and a finished file when the DLL
// is unloaded in the middle of a recording.
#include <set>

#include "tests/wine/recording_support.h"

namespace halvorn::wine_tests {
namespace {

using RecorderFileTest = RecordingTest;

// Counting pairs around the largest 24-bit first component and its wrap to
// the most negative one.
constexpr std::uint64_t kFirstLargestPair = 8388480;  // 0x7FFF80 rounds to 32768, kept at 32767
constexpr std::uint64_t kLastLargestPair = 8388607;   // 0x7FFFFF
constexpr std::uint64_t kMostNegativePair = 8388608;  // 0x800000, -8388608

TEST_F(RecorderFileTest, RecAndStopWithTheStreamStoppedLeaveABareHeaderNamedAfterTheUtcStart) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(0));
  const std::size_t mark = Statuses().size();
  const std::int64_t before = UtcNow();
  std::string name;
  ASSERT_NO_FATAL_FAILURE(name = ClickRec());
  ASSERT_NO_FATAL_FAILURE(ClickStop());
  const std::int64_t after = UtcNow();

  EXPECT_EQ(StatusesSince(mark), (std::vector<int>{102, 103}));
  EXPECT_EQ(name.size(), 28u) << name;
  EXPECT_TRUE(IsRecordingNameBetween(name, before, after));
  EXPECT_EQ(FilesIn(scratch_->path()), std::vector<std::string>{name});

  const auto recording = ReadRecording(name);
  ASSERT_TRUE(recording) << name;
  EXPECT_EQ(recording->bytes.size(), 90u);
  EXPECT_EQ(recording->riff_size(), 82u);
  EXPECT_EQ(recording->data_size(), 0u);
  EXPECT_TRUE(IsFinished(*recording));
  EXPECT_TRUE(HasFormat(*recording, 0, 125000));
  EXPECT_GE(recording->start_time_utc_s(), before);
  EXPECT_LE(recording->start_time_utc_s(), after);
}

TEST_F(RecorderFileTest, At125kSamplesTheFileHoldsExactlyTheBlocksTheHostGotWhileItWasOpen) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(0));
  ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
  ASSERT_NO_FATAL_FAILURE(StartCapture(2048));
  const std::size_t mark = Statuses().size();
  std::string name;
  ASSERT_NO_FATAL_FAILURE(name = ClickRec());
  host::PumpMessagesFor(1000);
  ASSERT_NO_FATAL_FAILURE(ClickStop());
  // Blocks go on reaching the host after the stop, and none of them the file.
  const std::size_t at_stop = capture_->blocks();
  ASSERT_TRUE(PumpUntil([&] { return capture_->blocks() > at_stop + 2; }, 5000));
  capture_->Stop();
  plugin_->StopHW();

  EXPECT_EQ(StatusesSince(mark), (std::vector<int>{102, 103}));
  EXPECT_EQ(callback_.missing_pairs(), 0u);
  EXPECT_EQ(callback_.out_of_order_pairs(), 0u);
  const auto recording = ReadRecording(name);
  ASSERT_TRUE(recording) << name;
  EXPECT_TRUE(IsFinished(*recording));
  EXPECT_TRUE(HasFormat(*recording, 0, 125000));
  EXPECT_EQ(recording->lo_hz(), kTestLoHz);
  EXPECT_GE(recording->data_bytes(), static_cast<std::size_t>(kBlockBytes))
      << "a second of streaming recorded no block";
  EXPECT_TRUE(HoldsCountingRun(*recording, 0));
  std::size_t first_block = 0;
  ASSERT_TRUE(HoldsRunOfHostBlocks(*recording, 0, *capture_, &first_block));
  EXPECT_LT(first_block + recording->data_bytes() / static_cast<std::size_t>(kBlockBytes), capture_->blocks());
}

TEST_F(RecorderFileTest, At2MSamplesEveryPairIsTheHostPairRoundedTo16BitsUpToTheLargestComponents) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(kTwoMegaRow));
  EXPECT_EQ(plugin_->GetHWSR(), 2000000);
  ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
  // The stream reaches the largest components about four seconds in; the
  // recording spans half a second either side of them.
  constexpr std::uint64_t kMargin = 1024 * kBlockPairs;
  ASSERT_TRUE(PumpUntil([&] { return callback_.next_pair() >= kFirstLargestPair - kMargin; }, 30000))
      << "the stream stalled at pair " << callback_.next_pair();
  ASSERT_NO_FATAL_FAILURE(StartCapture(4096));
  const std::size_t mark = Statuses().size();
  std::string name;
  ASSERT_NO_FATAL_FAILURE(name = ClickRec());
  ASSERT_TRUE(PumpUntil([&] { return callback_.next_pair() >= kMostNegativePair + kMargin; }, 30000));
  ASSERT_NO_FATAL_FAILURE(ClickStop());
  capture_->Stop();
  plugin_->StopHW();

  EXPECT_EQ(StatusesSince(mark), (std::vector<int>{102, 103}));
  EXPECT_EQ(callback_.missing_pairs(), 0u);
  const auto recording = ReadRecording(name);
  ASSERT_TRUE(recording) << name;
  EXPECT_TRUE(IsFinished(*recording));
  EXPECT_TRUE(HasFormat(*recording, kTwoMegaRow, 2000000));
  EXPECT_TRUE(HoldsRunOfHostBlocks(*recording, kTwoMegaRow, *capture_));
  std::uint64_t first_pair = 0;
  ASSERT_TRUE(HoldsCountingRun(*recording, kTwoMegaRow, &first_pair));
  const std::uint64_t pairs = recording->data_bytes() / 4;
  ASSERT_LE(first_pair, kFirstLargestPair);
  ASSERT_GT(first_pair + pairs, kMostNegativePair);

  // The values themselves, read at their places in the file.
  const auto first_component = [&](std::uint64_t pair) {
    return static_cast<std::int16_t>(recording->U16(kHeaderBytes + static_cast<std::size_t>(pair - first_pair) * 4));
  };
  EXPECT_EQ(first_component(kFirstLargestPair - 257), 32766);
  EXPECT_EQ(first_component(kFirstLargestPair - 256), 32767);  // 32766.5, a half rounding up
  EXPECT_EQ(first_component(kFirstLargestPair - 1), 32767);
  for (std::uint64_t pair = kFirstLargestPair; pair <= kLastLargestPair; ++pair) {
    ASSERT_EQ(first_component(pair), 32767) << pair;
  }
  EXPECT_EQ(first_component(kMostNegativePair), -32768);
  EXPECT_EQ(first_component(kMostNegativePair + 128), -32767);
}

TEST_F(RecorderFileTest, ABlockRacingAStopAtTheFastestRateIsWhollyInTheFileOrAbsent) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(kTwoMegaRow));
  ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
  ASSERT_NO_FATAL_FAILURE(StartCapture(16384));
  const std::size_t mark = Statuses().size();
  constexpr int kRecordings = 60;
  std::vector<std::string> names;
  for (int i = 0; i < kRecordings; ++i) {
    std::string name;
    ASSERT_NO_FATAL_FAILURE(name = ClickRec());
    names.push_back(name);
    // From an immediate stop to three transfers of 16 blocks (one every
    // 8 ms), so that stops fall at every phase of the transfers' delivery.
    if (i % 7 != 0) host::PumpMessagesFor(static_cast<DWORD>((i % 7) * 4 + i % 3));
    ASSERT_NO_FATAL_FAILURE(ClickStop());
  }
  capture_->Stop();
  plugin_->StopHW();

  std::vector<int> expected_statuses;
  for (int i = 0; i < kRecordings; ++i) expected_statuses.insert(expected_statuses.end(), {102, 103});
  EXPECT_EQ(StatusesSince(mark), expected_statuses);
  EXPECT_EQ(callback_.missing_pairs(), 0u);
  EXPECT_EQ(std::set<std::string>(names.begin(), names.end()).size(), names.size()) << "two recordings shared a name";
  std::vector<std::string> sorted = names;
  std::sort(sorted.begin(), sorted.end());
  EXPECT_EQ(FilesIn(scratch_->path()), sorted);

  std::uint64_t next_free_pair = 0;
  int with_blocks = 0;
  for (const std::string& name : names) {
    SCOPED_TRACE(name);
    const auto recording = ReadRecording(name);
    ASSERT_TRUE(recording);
    EXPECT_TRUE(IsFinished(*recording));
    EXPECT_TRUE(HasFormat(*recording, kTwoMegaRow, 2000000));
    EXPECT_TRUE(HoldsRunOfHostBlocks(*recording, kTwoMegaRow, *capture_));
    std::uint64_t first_pair = 0;
    ASSERT_TRUE(HoldsCountingRun(*recording, kTwoMegaRow, &first_pair));
    if (recording->data_bytes() == 0) continue;
    ++with_blocks;
    // Each block went to one recording at most, in the order of the recordings.
    EXPECT_GE(first_pair, next_free_pair);
    next_free_pair = first_pair + recording->data_bytes() / 4;
  }
  EXPECT_GT(with_blocks, kRecordings / 2) << "the stream hardly reached the recordings";
}

TEST_F(RecorderFileTest, ARecordingGoesOnAcrossStopHwAndStartHwWithOnlyTheGapLeftOut) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(kTwoMegaRow));
  ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
  ASSERT_NO_FATAL_FAILURE(StartCapture(4096));
  const std::size_t mark = Statuses().size();
  std::string name;
  ASSERT_NO_FATAL_FAILURE(name = ClickRec());
  host::PumpMessagesFor(300);
  plugin_->StopHW();
  EXPECT_FALSE(Enabled(kRecButton));

  // While the stream rests the time goes on and the size stands still.
  const auto next_tick = [&] {
    const std::string time = FieldText(kRecordingTimeField);
    return PumpUntil([&] { return FieldText(kRecordingTimeField) != time; }, 5000);
  };
  ASSERT_TRUE(next_tick());
  const std::string resting_size = FieldText(kFileSizeField);
  const std::string resting_time = FieldText(kRecordingTimeField);
  ASSERT_TRUE(next_tick());
  EXPECT_EQ(FieldText(kFileSizeField), resting_size);
  EXPECT_GT(std::atoi(FieldText(kRecordingTimeField).c_str()), std::atoi(resting_time.c_str()));

  // The new stream counts from pair 0 again.
  ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
  host::PumpMessagesFor(300);
  ASSERT_NO_FATAL_FAILURE(ClickStop());
  capture_->Stop();
  plugin_->StopHW();

  EXPECT_EQ(StatusesSince(mark), (std::vector<int>{102, 103}));
  const auto recording = ReadRecording(name);
  ASSERT_TRUE(recording) << name;
  EXPECT_TRUE(IsFinished(*recording));
  ASSERT_TRUE(HoldsRunOfHostBlocks(*recording, kTwoMegaRow, *capture_));
  // Both streams' blocks, each run whole: the file is two counting runs,
  // the second starting at pair 0.
  const auto blocks = static_cast<std::size_t>(recording->data_bytes() / StoredBlockBytes(kTwoMegaRow));
  std::size_t restart = 0;
  for (std::size_t block = 1; block < blocks && restart == 0; ++block) {
    if (recording->U32(kHeaderBytes + block * StoredBlockBytes(kTwoMegaRow)) == 0) restart = block;
  }
  ASSERT_GT(restart, 0u) << "no block of the second stream";
  // At rest the size showed the first stream's bytes.
  EXPECT_EQ(resting_size, std::to_string((restart * StoredBlockBytes(kTwoMegaRow)) >> 20));
  const auto split =
      recording->bytes.begin() + static_cast<std::ptrdiff_t>(kHeaderBytes + restart * StoredBlockBytes(kTwoMegaRow));
  std::vector<std::uint8_t> second_stream(recording->bytes.begin(), recording->bytes.begin() + kHeaderBytes);
  second_stream.insert(second_stream.end(), split, recording->bytes.end());
  const StoredRecording before_gap(name + " (first stream)", {recording->bytes.begin(), split});
  const StoredRecording after_gap(name + " (second stream)", std::move(second_stream));
  std::uint64_t first_pair_after_gap = 1;
  EXPECT_TRUE(HoldsCountingRun(before_gap, kTwoMegaRow));
  EXPECT_TRUE(HoldsCountingRun(after_gap, kTwoMegaRow, &first_pair_after_gap));
  EXPECT_EQ(first_pair_after_gap, 0u);
}

class RecorderUnloadTest : public RecordingTest {
 protected:
  // Rec at 2 MS/s while the stream runs, then FreeLibrary as a host exits.
  // The file is finished and holds a run of the host's blocks.
  void RecordThenUnload(DWORD recording_ms) {
    ASSERT_NO_FATAL_FAILURE(OpenAtRow(kTwoMegaRow));
    ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
    ASSERT_NO_FATAL_FAILURE(StartCapture(4096));
    std::string name;
    ASSERT_NO_FATAL_FAILURE(name = ClickRec());
    host::PumpMessagesFor(recording_ms);
    ASSERT_TRUE(plugin_->Unload());
    capture_->Stop();
    EXPECT_TRUE(PluginGone());

    const auto recording = ReadRecording(name);
    ASSERT_TRUE(recording) << name;
    EXPECT_TRUE(IsFinished(*recording));
    EXPECT_TRUE(HasFormat(*recording, kTwoMegaRow, 2000000));
    EXPECT_GT(recording->data_bytes(), 0u);
    EXPECT_TRUE(HoldsCountingRun(*recording, kTwoMegaRow));
    EXPECT_TRUE(HoldsRunOfHostBlocks(*recording, kTwoMegaRow, *capture_));
  }
};

TEST_F(RecorderUnloadTest, UnloadingTheDllWhileRecordingFinishesTheFile) { RecordThenUnload(500); }

}  // namespace
}  // namespace halvorn::wine_tests

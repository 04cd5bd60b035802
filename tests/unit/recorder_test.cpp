// The recorder on its own: real files in a scratch directory read back by
// hand and by libsndfile, a clock moved by hand, failures injected into the
// file layer, and the delivery thread played by the test.
#include "recorder/recorder.h"

#include <sndfile.h>
#include <sys/resource.h>

#include <csignal>
#include <cstdio>
#include <cstring>
#include <thread>

#include "panel/control_ids.h"
#include "recorder/wav_header.h"
#include "tests/support/counting_host.h"
#include "tests/support/fake_device.h"
#include "tests/support/fake_user_interface.h"
#include "tests/unit/recorder_test_support.h"

namespace halvorn::recorder {
namespace {

using testing::CountingBlock;
using testing::CountingHost;
using testing::ExpectFinished;
using testing::ReadBytes;
using testing::SampleBytes;
using testing::U32At;
using Bytes = std::vector<std::uint8_t>;
using Names = std::vector<std::string>;

constexpr std::int64_t kStart = 1796548789;  // Sun Dec 06 09:19:49 2026 UTC
const std::string kName = "Sun Dec 06 09-19-49 2026.wav";

struct SoundFileInfo {
  int rate = 0;
  int channels = 0;
  int subformat = 0;
  long long frames = 0;
};

SoundFileInfo ReadInfo(const testing::fs::path& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  EXPECT_NE(file, nullptr) << path << ": " << sf_strerror(nullptr);
  if (file == nullptr) return {};
  sf_close(file);
  return {info.samplerate, info.channels, info.format & SF_FORMAT_SUBMASK, static_cast<long long>(info.frames)};
}

std::vector<int> ReadSamples(const testing::fs::path& path) {
  SF_INFO info{};
  SNDFILE* file = sf_open(path.c_str(), SFM_READ, &info);
  if (file == nullptr) return {};
  std::vector<int> samples(static_cast<std::size_t>(info.frames * info.channels));
  sf_read_int(file, samples.data(), static_cast<sf_count_t>(samples.size()));
  sf_close(file);
  return samples;
}

std::string Sox(const std::string& option, const testing::fs::path& path) {
  const std::string command = "sox --i " + option + " '" + path.string() + "' 2>&1";
  std::string output;
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    pclose(pipe);
  }
  while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
  return output;
}

// kName and its copies (2) to (count), in the order they were made.
Names Copies(int count) {
  Names names = {kName};
  for (int copy = 2; copy <= count; ++copy) {
    names.push_back("Sun Dec 06 09-19-49 2026 (" + std::to_string(copy) + ").wav");
  }
  return names;
}

Names Sorted(Names names) {
  std::sort(names.begin(), names.end());
  return names;
}

Bytes Concatenate(std::initializer_list<Bytes> parts) {
  Bytes all;
  for (const Bytes& part : parts) all.insert(all.end(), part.begin(), part.end());
  return all;
}

class RecorderTest : public ::testing::Test, protected testing::RecordingReceiverFixture {
 protected:
  RecorderTest() {
    CountingHost::Instance().Reset();
    host_.SetCallback(&CountingHost::Callback);
    // The settings the worked header example carries.
    receiver_.SetLO(7050000);
    receiver_.EnablePreselector(true);
    receiver_.SetAdcDither(true);
  }

  void Make(std::uint32_t max_data_bytes = kMaxDataBytes) {
    RecorderOptions options;
    options.directory = std::make_unique<testing::FaultyDirectory>(scratch_.path(), faults_);
    options.clock = clock_.AsClock();
    options.max_data_bytes = max_data_bytes;
    recorder_ = std::make_unique<Recorder>(receiver_, host_, ui_, view_, trace_, std::move(options));
  }

  void Deliver(const Bytes& block) { recorder_->WriteBlock(block.data(), kBlockPairs); }
  // Blocks first .. first + count - 1 of the counting pattern, delivered and returned.
  Bytes DeliverCounting(int first, int count) {
    Bytes all;
    for (int i = first; i < first + count; ++i) {
      const Bytes block = CountingBlock(static_cast<std::uint64_t>(i) * kBlockPairs);
      Deliver(block);
      all.insert(all.end(), block.begin(), block.end());
    }
    return all;
  }

  static std::vector<int> RecordingStatuses() {
    std::vector<int> statuses;
    for (int status : CountingHost::Instance().statuses()) {
      if (status == 102 || status == 103) statuses.push_back(status);
    }
    return statuses;
  }
  // Ticks as the window thread's timer does until the recording ends with a
  // report: the tick after the writing thread met the failure.
  std::optional<std::string> TickUntilReport() {
    std::optional<std::string> report;
    testing::Eventually([&] {
      report = recorder_->UpdateRecordingStatus();
      return report.has_value() || !recorder_->IsRecording();
    });
    return report;
  }
  std::string Text(int id) { return ui_.control(id).text; }
  bool Saw(const std::string& event) {
    const auto events = ui_.events();
    return std::find(events.begin(), events.end(), event) != events.end();
  }

  testing::ManualClock clock_{kStart};
  std::shared_ptr<testing::Faults> faults_ = std::make_shared<testing::Faults>();
  std::unique_ptr<Recorder> recorder_;
};

TEST_F(RecorderTest, RecThenStopWithoutBlocksLeavesANinetyByteFileAndTellsTheHost102Then103) {
  Make();
  EXPECT_EQ(recorder_->StartRecording(), std::nullopt);
  EXPECT_TRUE(recorder_->IsRecording());
  EXPECT_EQ(scratch_.Names(), Names{kName});
  EXPECT_EQ(Text(panel::kFileNameField), kName);
  EXPECT_EQ(Text(panel::kFileSizeField), "0");
  EXPECT_TRUE(ui_.timer_running());
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102}));

  EXPECT_EQ(recorder_->StopRecording(), std::nullopt);
  EXPECT_FALSE(recorder_->IsRecording());
  EXPECT_FALSE(ui_.timer_running());
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102, 103}));

  const Bytes file = ReadBytes(scratch_ / kName);
  ASSERT_EQ(file.size(), 90u);
  EXPECT_EQ(U32At(file, 4), 82u);
  EXPECT_EQ(U32At(file, 86), 0u);
  auto expected = EncodeWavHeader(receiver_.Settings(), kStart);
  expected[4] = 82;
  EXPECT_EQ(file, Bytes(expected.begin(), expected.end()));
  // The worked example's receiver chunk: LO 7050000, step 0, preselector, no preamp, dither.
  EXPECT_EQ(Bytes(file.begin() + 44, file.begin() + 48), (Bytes{0x10, 0x93, 0x6B, 0x00}));
  EXPECT_EQ(Bytes(file.begin() + 60, file.begin() + 66), (Bytes{0x00, 0x00, 0x01, 0x00, 0x01, 0x01}));
  // The fields keep what they showed; the time field is left to the ticks.
  EXPECT_EQ(Text(panel::kFileNameField), kName);
  EXPECT_EQ(Text(panel::kFileSizeField), "0");
  EXPECT_FALSE(Saw(testing::FakeUserInterface::TextEvent(panel::kRecordingTimeField, "")));
}

TEST_F(RecorderTest, TheHeaderTimeIsASecondReadingOfTheClockAndTheBaseOfTheTimeField) {
  clock_.set_step(1);  // each reading is a second after the one before
  Make();
  ASSERT_EQ(recorder_->StartRecording(), std::nullopt);
  clock_.set_step(0);
  clock_.Set(kStart + 1 + 7);
  EXPECT_EQ(recorder_->UpdateRecordingStatus(), std::nullopt);
  EXPECT_EQ(Text(panel::kRecordingTimeField), "7");
  recorder_->StopRecording();
  EXPECT_EQ(scratch_.Names(), Names{kName});
  EXPECT_EQ(testing::I64At(ReadBytes(scratch_ / kName), 52), kStart + 1);
}

TEST_F(RecorderTest, OneBlockAtIndexZeroIsStoredAsDeliveredAndReadsBackAsTwentyFourBitStereo) {
  Make();
  recorder_->StartRecording();
  const Bytes block = DeliverCounting(5, 1);
  recorder_->StopRecording();

  const auto path = scratch_ / kName;
  const Bytes file = ReadBytes(path);
  ASSERT_EQ(file.size(), 6234u);
  EXPECT_EQ(U32At(file, 4), 6226u);
  EXPECT_EQ(U32At(file, 86), 6144u);
  EXPECT_EQ(SampleBytes(path), block);

  const SoundFileInfo info = ReadInfo(path);
  EXPECT_EQ(info.rate, 125000);
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(info.subformat, SF_FORMAT_PCM_24);
  EXPECT_EQ(info.frames, 1024);
  // Pair k of the counting pattern: first component the low 24 bits of k, second the next 24.
  const std::vector<int> samples = ReadSamples(path);
  ASSERT_EQ(samples.size(), 2048u);
  for (int pair = 0; pair < 1024; ++pair) {
    ASSERT_EQ(samples[2 * pair], (5 * 1024 + pair) << 8);
    ASSERT_EQ(samples[2 * pair + 1], 0);
  }
}

TEST_F(RecorderTest, OneBlockAtIndexFourIsReducedToSixteenBitPairs) {
  ChooseRate(4);
  Make();
  recorder_->StartRecording();
  const std::int32_t components[8] = {-8388608, -129, -128, -1, 127, 128, 8388479, 8388607};
  const std::int16_t reduced[8] = {-32768, -1, 0, 0, 0, 1, 32767, 32767};
  Bytes block(6144);
  for (int i = 0; i < 2048; ++i) {
    const auto bits = static_cast<std::uint32_t>(components[i % 8]);
    for (int b = 0; b < 3; ++b) block[3 * i + b] = static_cast<std::uint8_t>(bits >> (8 * b));
  }
  Deliver(block);
  recorder_->StopRecording();

  const auto path = scratch_ / kName;
  const Bytes file = ReadBytes(path);
  ASSERT_EQ(file.size(), 4186u);
  EXPECT_EQ(U32At(file, 4), 4178u);
  EXPECT_EQ(U32At(file, 86), 4096u);
  const SoundFileInfo info = ReadInfo(path);
  EXPECT_EQ(info.rate, 2000000);
  EXPECT_EQ(info.channels, 2);
  EXPECT_EQ(info.subformat, SF_FORMAT_PCM_16);
  EXPECT_EQ(info.frames, 1024);
  const std::vector<int> samples = ReadSamples(path);
  ASSERT_EQ(samples.size(), 2048u);
  for (int i = 0; i < 2048; ++i) ASSERT_EQ(samples[i], reduced[i % 8] * 65536) << i;
}

TEST_F(RecorderTest, SoxReadsRateChannelsPrecisionAndLength) {
  if (std::system("command -v sox >/dev/null 2>&1") != 0) GTEST_SKIP() << "sox is not installed";
  Make();
  recorder_->StartRecording();
  DeliverCounting(0, 3);
  recorder_->StopRecording();
  const auto path = scratch_ / kName;
  EXPECT_EQ(Sox("-r", path), "125000");
  EXPECT_EQ(Sox("-c", path), "2");
  EXPECT_EQ(Sox("-b", path), "24");
  EXPECT_EQ(Sox("-s", path), "3072");
}

TEST_F(RecorderTest, EachBlockAddsItsBytesAndOnlyBlocksWhileAFileIsOpenAreKept) {
  Make();
  DeliverCounting(0, 2);
  recorder_->StartRecording();
  const Bytes kept = DeliverCounting(2, 3);
  recorder_->StopRecording();
  DeliverCounting(5, 2);

  const auto path = scratch_ / kName;
  ExpectFinished(path);
  EXPECT_EQ(SampleBytes(path), kept);
}

TEST_F(RecorderTest, AnExistingNameGetsACopyNumberAndTheEarlierFileIsNeverTouched) {
  testing::WriteBytes(scratch_ / kName, {1, 2, 3});
  Make();
  recorder_->StartRecording();
  EXPECT_EQ(Text(panel::kFileNameField), "Sun Dec 06 09-19-49 2026 (2).wav");
  recorder_->StopRecording();
  recorder_->StartRecording();
  recorder_->StopRecording();

  EXPECT_EQ(ReadBytes(scratch_ / kName), (Bytes{1, 2, 3}));
  EXPECT_EQ(scratch_.Names(), Sorted(Copies(3)));
  ExpectFinished(scratch_ / "Sun Dec 06 09-19-49 2026 (2).wav");
  ExpectFinished(scratch_ / "Sun Dec 06 09-19-49 2026 (3).wav");
}

TEST_F(RecorderTest, AFileThatCannotBeCreatedIsExplainedUndoneToTheHostAndStartsNoTimer) {
  faults_->creates_before_failure = 0;
  faults_->create_error = EACCES;
  Make();
  const std::optional<std::string> report = recorder_->StartRecording();
  ASSERT_TRUE(report.has_value());
  EXPECT_NE(report->find((scratch_ / kName).string()), std::string::npos) << *report;
  EXPECT_NE(report->find(std::strerror(EACCES)), std::string::npos) << *report;
  EXPECT_FALSE(recorder_->IsRecording());
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102, 103}));
  EXPECT_FALSE(Saw("timer-start"));
  EXPECT_EQ(Text(panel::kFileNameField), kName);
  EXPECT_TRUE(scratch_.Names().empty());

  ui_.ClearEvents();
  EXPECT_EQ(recorder_->StopRecording(), std::nullopt);
  EXPECT_EQ(recorder_->UpdateRecordingStatus(), std::nullopt);
  EXPECT_TRUE(ui_.events().empty());
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102, 103}));
}

TEST_F(RecorderTest, AMissingDirectoryIsReportedInTheSystemsWords) {
  RecorderOptions options;
  options.directory = MakePlatformRecordingDirectory((scratch_ / "missing").string());
  options.clock = clock_.AsClock();
  Recorder recorder(receiver_, host_, ui_, view_, trace_, std::move(options));
  const std::optional<std::string> report = recorder.StartRecording();
  ASSERT_TRUE(report.has_value());
  EXPECT_NE(report->find(kName), std::string::npos) << *report;
  EXPECT_NE(report->find("No such file or directory"), std::string::npos) << *report;
  EXPECT_FALSE(recorder.IsRecording());
}

TEST_F(RecorderTest, AHeaderThatCannotBeWrittenLeavesNoFileBehind) {
  faults_->write_budget = 50;
  Make();
  const std::optional<std::string> report = recorder_->StartRecording();
  ASSERT_TRUE(report.has_value());
  EXPECT_NE(report->find(std::strerror(ENOSPC)), std::string::npos) << *report;
  EXPECT_TRUE(scratch_.Names().empty());
  EXPECT_FALSE(recorder_->IsRecording());
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102, 103}));
}

TEST_F(RecorderTest, AFailedWriteEndsTheRecordingAtTheNextTickWithAFinishedFile) {
  faults_->write_budget = 90 + 2 * 6144 + 1000;
  Make();
  recorder_->StartRecording();
  const Bytes written = DeliverCounting(0, 2);
  const Bytes torn = DeliverCounting(2, 1);
  ui_.ClearEvents();
  DeliverCounting(3, 2);
  // The delivery thread neither waits on the user nor touches the window.
  EXPECT_TRUE(ui_.events().empty());
  EXPECT_TRUE(recorder_->IsRecording());
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102}));

  const std::optional<std::string> report = TickUntilReport();
  ASSERT_TRUE(report.has_value());
  EXPECT_NE(report->find(kName), std::string::npos) << *report;
  EXPECT_NE(report->find(std::strerror(ENOSPC)), std::string::npos) << *report;
  EXPECT_FALSE(recorder_->IsRecording());
  EXPECT_FALSE(ui_.timer_running());
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102, 103}));

  // Sizes count only what reached the file, cut back to whole pairs.
  const auto path = scratch_ / kName;
  ExpectFinished(path);
  EXPECT_EQ(SampleBytes(path), Concatenate({written, Bytes(torn.begin(), torn.begin() + 996)}));
  EXPECT_EQ(ReadInfo(path).frames, 2 * 1024 + 166);

  ui_.ClearEvents();
  EXPECT_EQ(recorder_->UpdateRecordingStatus(), std::nullopt);
  EXPECT_EQ(recorder_->StopRecording(), std::nullopt);
  EXPECT_TRUE(ui_.events().empty());
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102, 103}));
}

TEST_F(RecorderTest, AStopBeforeTheTickAfterAFailedWriteStillReportsIt) {
  faults_->write_budget = 90 + 6144;
  Make();
  recorder_->StartRecording();
  DeliverCounting(0, 2);
  const std::optional<std::string> report = recorder_->StopRecording();
  ASSERT_TRUE(report.has_value());
  EXPECT_NE(report->find(std::strerror(ENOSPC)), std::string::npos) << *report;
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102, 103}));
  ExpectFinished(scratch_ / kName);
  EXPECT_EQ(SampleBytes(scratch_ / kName).size(), 6144u);
}

TEST_F(RecorderTest, SizesThatCannotBeWrittenAreReported) {
  Make();
  recorder_->StartRecording();
  DeliverCounting(0, 1);
  faults_->fail_write_at = true;
  const std::optional<std::string> report = recorder_->StopRecording();
  ASSERT_TRUE(report.has_value());
  EXPECT_NE(report->find("could not be completed"), std::string::npos) << *report;
  EXPECT_NE(report->find(std::strerror(EIO)), std::string::npos) << *report;
  EXPECT_FALSE(recorder_->IsRecording());
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102, 103}));
}

TEST_F(RecorderTest, WhereATornPairCannotBeCutOffTheSizesStillMatchTheFile) {
  faults_->write_budget = 90 + 6144 + 1000;
  faults_->fail_truncate = true;
  Make();
  recorder_->StartRecording();
  DeliverCounting(0, 2);
  const std::optional<std::string> report = TickUntilReport();
  ASSERT_TRUE(report.has_value());
  ExpectFinished(scratch_ / kName);
  EXPECT_EQ(SampleBytes(scratch_ / kName).size(), 6144u + 1000);
}

TEST_F(RecorderTest, AFileThatCannotBeCompletedAtItsLimitEndsTheRecording) {
  Make(2 * 6144);
  recorder_->StartRecording();
  DeliverCounting(0, 2);
  faults_->fail_write_at = true;
  DeliverCounting(2, 2);
  const std::optional<std::string> report = TickUntilReport();
  ASSERT_TRUE(report.has_value());
  EXPECT_NE(report->find("could not be completed"), std::string::npos) << *report;
  EXPECT_NE(report->find(kName), std::string::npos) << *report;
  EXPECT_EQ(scratch_.Names(), Names{kName});
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102, 103}));
  EXPECT_FALSE(recorder_->IsRecording());
}

// A real short write, with the process's file-size limit as the full disk.
TEST_F(RecorderTest, ARealShortWriteLeavesAFinishedFileOfWholePairs) {
  Make();
  const auto child = [&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{90 + 3 * 6144 + 100, 90 + 3 * 6144 + 100};
    setrlimit(RLIMIT_FSIZE, &limit);
    recorder_->StartRecording();
    DeliverCounting(0, 5);
    const std::optional<std::string> report = TickUntilReport();
    std::_Exit(report && report->find(std::strerror(EFBIG)) != std::string::npos ? 0 : 1);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
  const auto path = scratch_ / kName;
  ExpectFinished(path);
  const Bytes all = Concatenate({CountingBlock(0), CountingBlock(1024), CountingBlock(2048), CountingBlock(3072)});
  EXPECT_EQ(SampleBytes(path), Bytes(all.begin(), all.begin() + 3 * 6144 + 96));
}

TEST_F(RecorderTest, UnloadFinishesTheFileWithoutTouchingTheWindowOrTheHost) {
  Make();
  recorder_->StartRecording();
  const Bytes blocks = DeliverCounting(0, 2);
  ui_.ClearEvents();
  CountingHost::Instance().Reset();
  recorder_.reset();
  EXPECT_TRUE(ui_.events().empty());
  EXPECT_TRUE(CountingHost::Instance().statuses().empty());
  ExpectFinished(scratch_ / kName);
  EXPECT_EQ(SampleBytes(scratch_ / kName), blocks);
}

TEST_F(RecorderTest, UnloadAfterAFailedWriteFinishesTheFileTakenAside) {
  faults_->write_budget = 90 + 6144 + 10;
  Make();
  recorder_->StartRecording();
  DeliverCounting(0, 2);
  ui_.ClearEvents();
  recorder_->FinishAtUnload();
  EXPECT_TRUE(ui_.events().empty());
  EXPECT_FALSE(recorder_->IsRecording());
  ExpectFinished(scratch_ / kName);
  EXPECT_EQ(SampleBytes(scratch_ / kName).size(), 6144u + 6);
}

TEST_F(RecorderTest, AtProcessExitTheFileIsFinishedWithoutWindowOrHost) {
  Make();
  recorder_->StartRecording();
  const Bytes blocks = DeliverCounting(0, 3);
  ui_.ClearEvents();
  CountingHost::Instance().Reset();
  recorder_->FinishAtProcessExit();
  EXPECT_FALSE(recorder_->IsRecording());
  EXPECT_TRUE(ui_.events().empty());
  EXPECT_TRUE(CountingHost::Instance().statuses().empty());
  ExpectFinished(scratch_ / kName);
  EXPECT_EQ(SampleBytes(scratch_ / kName), blocks);
}

// The writing thread caught in a write, as a thread the ending process killed
// may be: the exit neither waits for it nor loses what was stored.
TEST_F(RecorderTest, AtProcessExitAWriteThatNeverEndsIsNotWaitedForAndLosesNothing) {
  Make();
  recorder_->StartRecording();
  faults_->hold_writes = true;
  const Bytes blocks = DeliverCounting(0, 3);
  ASSERT_TRUE(testing::Eventually([&] { return faults_->writes_held > 0; }));
  recorder_->FinishAtProcessExit();
  EXPECT_FALSE(recorder_->IsRecording());
  ExpectFinished(scratch_ / kName);
  EXPECT_EQ(SampleBytes(scratch_ / kName), blocks);
  EXPECT_EQ(ReadInfo(scratch_ / kName).frames, 3 * 1024);

  faults_->hold_writes = false;
  recorder_.reset();
  ExpectFinished(scratch_ / kName);
  EXPECT_EQ(SampleBytes(scratch_ / kName), blocks);
}

TEST_F(RecorderTest, IdleStopsAndLateTicksDoNothing) {
  Make();
  EXPECT_EQ(recorder_->StopRecording(), std::nullopt);
  EXPECT_EQ(recorder_->UpdateRecordingStatus(), std::nullopt);
  EXPECT_TRUE(ui_.events().empty());
  EXPECT_TRUE(RecordingStatuses().empty());

  recorder_->StartRecording();
  recorder_->StopRecording();
  ui_.ClearEvents();
  clock_.Advance(30);
  EXPECT_EQ(recorder_->UpdateRecordingStatus(), std::nullopt);
  EXPECT_TRUE(ui_.events().empty());
}

TEST_F(RecorderTest, ASecondStartWhileRecordingLeavesTheOpenFileAlone) {
  Make();
  recorder_->StartRecording();
  ui_.ClearEvents();
  EXPECT_EQ(recorder_->StartRecording(), std::nullopt);
  EXPECT_TRUE(ui_.events().empty());
  const Bytes blocks = DeliverCounting(0, 1);
  recorder_->StopRecording();
  EXPECT_EQ(scratch_.Names(), Names{kName});
  EXPECT_EQ(SampleBytes(scratch_ / kName), blocks);
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102, 103}));
}

TEST_F(RecorderTest, TicksShowWholeMebibytesAndWholeSeconds) {
  Make();
  recorder_->StartRecording();
  recorder_->UpdateRecordingStatus();
  EXPECT_EQ(Text(panel::kFileSizeField), "0");
  EXPECT_EQ(Text(panel::kRecordingTimeField), "0");

  DeliverCounting(0, 170);  // 1044480 bytes
  clock_.Advance(2);
  recorder_->UpdateRecordingStatus();
  EXPECT_EQ(Text(panel::kFileSizeField), "0");
  EXPECT_EQ(Text(panel::kRecordingTimeField), "2");

  DeliverCounting(170, 1);  // 1050624 bytes
  clock_.Advance(1);
  recorder_->UpdateRecordingStatus();
  EXPECT_EQ(Text(panel::kFileSizeField), "1");
  EXPECT_EQ(Text(panel::kRecordingTimeField), "3");

  recorder_->StopRecording();
  clock_.Advance(10);
  recorder_->UpdateRecordingStatus();
  EXPECT_EQ(Text(panel::kFileSizeField), "1");
  EXPECT_EQ(Text(panel::kRecordingTimeField), "3");
}

TEST_F(RecorderTest, AtTheSizeLimitTheRecordingGoesOnInNewFilesWithoutLosingOrRepeatingABlock) {
  Make(3 * 6144);
  recorder_->StartRecording();
  const Bytes all = DeliverCounting(0, 10);
  recorder_->StopRecording();

  const Names names = Copies(4);
  ASSERT_EQ(scratch_.Names(), Sorted(names));
  Bytes joined;
  const std::size_t blocks_per_file[4] = {3, 3, 3, 1};
  for (std::size_t i = 0; i < names.size(); ++i) {
    const auto path = scratch_ / names[i];
    ExpectFinished(path);
    const Bytes samples = SampleBytes(path);
    EXPECT_EQ(samples.size(), blocks_per_file[i] * 6144) << names[i];
    EXPECT_EQ(ReadInfo(path).frames, static_cast<long long>(blocks_per_file[i] * 1024)) << names[i];
    joined.insert(joined.end(), samples.begin(), samples.end());
  }
  EXPECT_EQ(joined, all);
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102, 103}));
}

TEST_F(RecorderTest, ANewFileIsNamedAndStampedFromItsOwnStartAndShownAtTheNextTick) {
  Make(2 * 6144);
  recorder_->StartRecording();
  DeliverCounting(0, 2);
  clock_.Advance(60);
  DeliverCounting(2, 1);
  const std::string second = "Sun Dec 06 09-20-49 2026.wav";
  // The writing thread creates it.
  ASSERT_TRUE(testing::Eventually([&] { return ReadBytes(scratch_ / second).size() >= 90; }));
  EXPECT_EQ(scratch_.Names(), (Names{kName, second}));
  EXPECT_EQ(testing::I64At(ReadBytes(scratch_ / second), 52), kStart + 60);

  clock_.Advance(4);
  ASSERT_TRUE(testing::Eventually([&] {
    recorder_->UpdateRecordingStatus();
    return Text(panel::kFileNameField) == second;
  }));
  EXPECT_EQ(Text(panel::kRecordingTimeField), "4");
  recorder_->StopRecording();
  ExpectFinished(scratch_ / kName);
  ExpectFinished(scratch_ / second);
  EXPECT_EQ(SampleBytes(scratch_ / second), CountingBlock(2 * 1024));
}

TEST_F(RecorderTest, SixteenBitRecordingsRollOverAtTheirOwnBlockSize) {
  ChooseRate(4);
  Make(2 * 4096);
  recorder_->StartRecording();
  DeliverCounting(0, 5);
  recorder_->StopRecording();
  const Names names = Copies(3);
  ASSERT_EQ(scratch_.Names(), Sorted(names));
  const std::size_t sizes[3] = {8192, 8192, 4096};
  for (std::size_t i = 0; i < 3; ++i) {
    ExpectFinished(scratch_ / names[i]);
    EXPECT_EQ(SampleBytes(scratch_ / names[i]).size(), sizes[i]) << names[i];
    EXPECT_EQ(ReadInfo(scratch_ / names[i]).subformat, SF_FORMAT_PCM_16);
  }
}

TEST_F(RecorderTest, ALimitBelowOneBlockStillStoresWholeBlocks) {
  Make(100);
  recorder_->StartRecording();
  const Bytes all = DeliverCounting(0, 3);
  recorder_->StopRecording();
  ASSERT_EQ(scratch_.Names(), Sorted(Copies(3)));
  Bytes joined;
  for (const std::string& name : Copies(3)) {
    ExpectFinished(scratch_ / name);
    const Bytes samples = SampleBytes(scratch_ / name);
    EXPECT_EQ(samples.size(), 6144u) << name;
    joined.insert(joined.end(), samples.begin(), samples.end());
  }
  EXPECT_EQ(joined, all);
}

TEST_F(RecorderTest, WhenTheNextFileCannotBeCreatedEveryFileIsFinishedAndTheUserIsTold) {
  faults_->creates_before_failure = 1;
  faults_->create_error = ENOSPC;
  Make(2 * 6144);
  recorder_->StartRecording();
  const Bytes kept = DeliverCounting(0, 2);
  DeliverCounting(2, 2);
  EXPECT_TRUE(recorder_->IsRecording());
  const std::optional<std::string> report = TickUntilReport();
  ASSERT_TRUE(report.has_value());
  EXPECT_NE(report->find("Sun Dec 06 09-19-49 2026 (2).wav"), std::string::npos) << *report;
  EXPECT_NE(report->find(std::strerror(ENOSPC)), std::string::npos) << *report;
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102, 103}));
  EXPECT_FALSE(ui_.timer_running());
  EXPECT_EQ(scratch_.Names(), Names{kName});
  ExpectFinished(scratch_ / kName);
  EXPECT_EQ(SampleBytes(scratch_ / kName), kept);
}

TEST_F(RecorderTest, ARateChangeDuringARecordingGoesOnInAFileOfTheNewFormat) {
  Make();
  recorder_->StartRecording();
  DeliverCounting(0, 1);
  ChooseRate(4);
  DeliverCounting(1, 1);
  recorder_->StopRecording();
  const Names names = Copies(2);
  ASSERT_EQ(scratch_.Names(), Sorted(names));
  EXPECT_EQ(ReadInfo(scratch_ / names[0]).subformat, SF_FORMAT_PCM_24);
  EXPECT_EQ(ReadInfo(scratch_ / names[0]).frames, 1024);
  EXPECT_EQ(ReadInfo(scratch_ / names[1]).subformat, SF_FORMAT_PCM_16);
  EXPECT_EQ(ReadInfo(scratch_ / names[1]).frames, 1024);
  EXPECT_EQ(ReadInfo(scratch_ / names[1]).rate, 2000000);
}

// The window thread stops and starts recordings while the delivery thread
// writes: every file is finished and holds whole, consecutive blocks.
TEST_F(RecorderTest, StopsRacingTheDeliveryThreadLeaveEachBlockWholeOrAbsent) {
  Make();
  std::atomic<bool> done{false};
  std::thread delivery([&] {
    std::uint64_t pair = 0;
    Bytes block;
    while (!done.load()) {
      block = CountingBlock(pair);
      recorder_->WriteBlock(block.data(), kBlockPairs);
      pair += kBlockPairs;
    }
  });
  for (int round = 0; round < 40; ++round) {
    clock_.Advance(1);
    ASSERT_EQ(recorder_->StartRecording(), std::nullopt);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    recorder_->UpdateRecordingStatus();
    ASSERT_EQ(recorder_->StopRecording(), std::nullopt);
  }
  done = true;
  delivery.join();

  const Names names = scratch_.Names();
  ASSERT_EQ(names.size(), 40u);
  std::uint64_t previous_end = 0;
  for (const std::string& name : names) {
    const auto path = scratch_ / name;
    ExpectFinished(path);
    const Bytes samples = SampleBytes(path);
    ASSERT_EQ(samples.size() % 6144, 0u) << name;
    for (std::size_t at = 0; at + 6 <= samples.size(); at += 6) {
      const std::uint64_t pair = simulator::ReadCountingPair(&samples[at]);
      if (at == 0) {
        ASSERT_EQ(pair % 1024, 0u) << name;
        ASSERT_GE(pair, previous_end) << name;
      } else {
        ASSERT_EQ(pair, previous_end) << name << " at " << at;
      }
      previous_end = pair + 1;
    }
  }
  EXPECT_EQ(RecordingStatuses().size(), 80u);
}

}  // namespace
}  // namespace halvorn::recorder

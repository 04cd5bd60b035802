// What a recording survives: the header's sizes kept up to date while it
// runs, so that a crash leaves a file every reader opens up to the last
// update; a disk that stalls without stalling the delivery thread; a full
// ring that makes the delivery thread wait rather than lose a block; and a
// finished file that is byte for byte what it always was.
#include <sndfile.h>

#include <cstdio>
#include <thread>

#include "tests/support/counting_host.h"
#include "receiver/sample_rate_table.h"
#include "recorder/recorder.h"
#include "recorder/sample_reduction.h"
#include "ports/worker_start_gate.h"
#include "tests/support/forwarding_kit.h"
#include "tests/unit/recorder_test_support.h"

namespace halvorn::recorder {
namespace {

using testing::CountingBlock;
using testing::ExpectFinished;
using testing::ReadBytes;
using testing::SampleBytes;
using testing::SndfileFrames;
using testing::U32At;
using Bytes = std::vector<std::uint8_t>;

constexpr std::int64_t kStart = 1796548789;  // Sun Dec 06 09:19:49 2026 UTC
const std::string kName = "Sun Dec 06 09-19-49 2026.wav";
constexpr int kTwoMega = receiver::kTwoMegaSampleIndex;

// What the recorder stores for counting blocks first .. first + count - 1.
Bytes Stored(int first, int count, int row) {
  Bytes all;
  for (int i = first; i < first + count; ++i) {
    Bytes block = CountingBlock(static_cast<std::uint64_t>(i) * 1024);
    if (row == kTwoMega) {
      Bytes reduced;
      for (std::size_t at = 0; at < block.size(); at += 3) {
        const auto value = static_cast<std::uint16_t>(ReduceComponent(&block[at]));
        reduced.push_back(static_cast<std::uint8_t>(value));
        reduced.push_back(static_cast<std::uint8_t>(value >> 8));
      }
      block = reduced;
    }
    all.insert(all.end(), block.begin(), block.end());
  }
  return all;
}

std::string Output(const std::string& command) {
  std::string output;
  if (FILE* pipe = popen((command + " 2>&1").c_str(), "r")) {
    char buffer[256];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) output += buffer;
    pclose(pipe);
  }
  while (!output.empty() && (output.back() == '\n' || output.back() == ' ')) output.pop_back();
  return output;
}

// Threads that do not begin until told: as the loader holds back a thread
// started just before the module is unloaded.
class HeldBackThreads final : public testing::ForwardingKit {
 public:
  std::unique_ptr<WorkerThread> StartWorker(Procedure procedure, void* argument) override {
    started.push_back(std::make_shared<WorkerStartGate>(procedure, argument));
    return std::make_unique<Thread>(started.back());
  }

  // Each thread's start: the loader lets a thread go with WorkerStartGate::Enter.
  std::vector<std::shared_ptr<WorkerStartGate>> started;

 private:
  class Thread final : public WorkerThread {
   public:
    explicit Thread(std::shared_ptr<WorkerStartGate> start) : start_(std::move(start)) {}
    bool IsCurrentThread() const override { return false; }
    bool CancelIfNotStarted() override { return start_->CancelIfNotStarted(); }
    void Retire() override {}

   private:
    std::shared_ptr<WorkerStartGate> start_;
  };
};

class RecordingSurvivalTest : public ::testing::Test, protected testing::RecordingReceiverFixture {
 protected:
  RecordingSurvivalTest() { testing::CountingHost::Instance().Reset(); }

  void Make(WriterTiming timing = {}, std::uint32_t max_data_bytes = kMaxDataBytes,
            PlatformKit* kit = nullptr) {
    RecorderOptions options;
    options.kit = kit;
    options.directory = std::make_unique<testing::FaultyDirectory>(scratch_.path(), faults_);
    options.clock = clock_.AsClock();
    options.timing = timing;
    options.max_data_bytes = max_data_bytes;
    recorder_ = std::make_unique<Recorder>(receiver_, host_, ui_, view_, trace_, std::move(options));
  }
  void Deliver(int first, int count) {
    for (int i = first; i < first + count; ++i) {
      const Bytes block = CountingBlock(static_cast<std::uint64_t>(i) * 1024);
      recorder_->WriteBlock(block.data(), 1024);
    }
  }
  std::uint32_t DataSizeField() {
    const Bytes bytes = ReadBytes(scratch_ / kName);
    return bytes.size() >= 90 ? U32At(bytes, 86) : 0;
  }

  static WriterTiming Quick() {
    WriterTiming timing;
    timing.write_interval_ms = 1;
    timing.header_interval_ms = 1;
    return timing;
  }

  testing::ManualClock clock_{kStart};
  std::shared_ptr<testing::Faults> faults_ = std::make_shared<testing::Faults>();
  std::unique_ptr<Recorder> recorder_;
};

TEST_F(RecordingSurvivalTest, TheSizesAreBroughtUpToDateWhileTheRecordingRuns) {
  Make(Quick());
  ASSERT_EQ(recorder_->StartRecording(), std::nullopt);
  // A file just started is already an empty recording.
  EXPECT_EQ(U32At(ReadBytes(scratch_ / kName), 4), 82u);
  EXPECT_EQ(SndfileFrames(scratch_ / kName), 0);
  Deliver(0, 5);
  ASSERT_TRUE(testing::Eventually([&] { return DataSizeField() == 5u * 6144; }));
  EXPECT_TRUE(recorder_->IsRecording());
  ExpectFinished(scratch_ / kName);
  EXPECT_EQ(SndfileFrames(scratch_ / kName), 5 * 1024);
  EXPECT_EQ(SampleBytes(scratch_ / kName), Stored(0, 5, 0));
}

// The process dies with blocks stored that never reached the file: every
// reader opens what the last update describes, whole blocks in order.
TEST_F(RecordingSurvivalTest, ACrashLeavesAFileEveryReaderOpensUpToItsLastUpdate) {
  ChooseRate(kTwoMega);
  Make(Quick());
  const auto crash = [&] {
    recorder_->StartRecording();
    Deliver(0, 10);
    if (!testing::Eventually([&] { return DataSizeField() == 10u * 4096; })) std::_Exit(1);
    faults_->hold_writes = true;
    Deliver(10, 3);
    std::_Exit(0);
  };
  EXPECT_EXIT(crash(), ::testing::ExitedWithCode(0), "");

  const auto path = scratch_ / kName;
  const Bytes bytes = ReadBytes(path);
  EXPECT_EQ(U32At(bytes, 86), 10u * 4096);
  EXPECT_EQ(U32At(bytes, 4), 82u + 10 * 4096);
  EXPECT_EQ(Bytes(bytes.begin() + 90, bytes.begin() + 90 + 10 * 4096), Stored(0, 10, kTwoMega));
  EXPECT_EQ(SndfileFrames(path), 10 * 1024);
  EXPECT_EQ(Output("python3 -c \"import wave,sys; w=wave.open(sys.argv[1]); print(w.getnframes(), w.getsampwidth())\" '" +
                   path.string() + "'"),
            "10240 2");
  EXPECT_EQ(Output("sox --i -s '" + path.string() + "'"), "10240");
}

// Recording started, then the host unloads at once: the writing thread has
// not begun and cannot before the unload is over. The stop finishes the file
// itself, with every block, and the thread, once let go, does nothing.
TEST_F(RecordingSurvivalTest, AWritingThreadThatNeverBeganLeavesTheFinishingToTheStop) {
  HeldBackThreads threads;
  Make({}, kMaxDataBytes, &threads);
  ASSERT_EQ(recorder_->StartRecording(), std::nullopt);
  ASSERT_EQ(threads.started.size(), 1u);
  Deliver(0, 7);
  recorder_->FinishAtUnload();
  EXPECT_FALSE(recorder_->IsRecording());
  ExpectFinished(scratch_ / kName);
  EXPECT_EQ(SampleBytes(scratch_ / kName), Stored(0, 7, 0));
  recorder_.reset();
  EXPECT_FALSE(WorkerStartGate::Enter(threads.started[0]));
}

TEST_F(RecordingSurvivalTest, AFinishedFileIsByteForByteWhatItAlwaysWas) {
  for (const int row : {1, kTwoMega}) {
    SCOPED_TRACE(row);
    ChooseRate(row);
    Make(Quick());
    ASSERT_EQ(recorder_->StartRecording(), std::nullopt);
    Deliver(0, 3);
    ASSERT_EQ(recorder_->StopRecording(), std::nullopt);
    const Bytes samples = Stored(0, 3, row);
    auto header = EncodeWavHeader(receiver_.Settings(), kStart);
    const auto data = EncodeSizeField(static_cast<std::uint32_t>(samples.size()));
    const auto riff = EncodeSizeField(RiffSizeFor(static_cast<std::uint32_t>(samples.size())));
    std::copy(riff.begin(), riff.end(), header.begin() + 4);
    std::copy(data.begin(), data.end(), header.begin() + 86);
    Bytes expected(header.begin(), header.end());
    expected.insert(expected.end(), samples.begin(), samples.end());
    EXPECT_EQ(ReadBytes(scratch_ / kName), expected);
    std::filesystem::remove(scratch_ / kName);
  }
}

// The disk takes no write for as long as a second's blocks at 2 MS/s take to
// arrive: the delivery thread never waits for it.
TEST_F(RecordingSurvivalTest, WhileTheDiskHoldsAWriteASecondOfBlocksIsStillTaken) {
  ChooseRate(kTwoMega);
  Make();
  ASSERT_EQ(recorder_->StartRecording(), std::nullopt);
  faults_->hold_writes = true;
  Deliver(0, 1);
  ASSERT_TRUE(testing::Eventually([&] { return faults_->writes_held > 0; }));
  std::atomic<bool> delivered{false};
  std::thread delivery([&] {
    Deliver(1, 1952);
    delivered = true;
  });
  const bool taken_while_held = testing::Eventually([&] { return delivered.load(); });
  faults_->hold_writes = false;
  delivery.join();
  EXPECT_TRUE(taken_while_held);
  ASSERT_EQ(recorder_->StopRecording(), std::nullopt);
  ExpectFinished(scratch_ / kName);
  EXPECT_EQ(SampleBytes(scratch_ / kName), Stored(0, 1953, kTwoMega));
}

// A disk slower than the stream: the delivery thread waits for room, as it
// waited for each write before, and no block goes missing from the file.
TEST_F(RecordingSurvivalTest, WhenTheRingIsFullTheDeliveryThreadWaitsAndLosesNothing) {
  WriterTiming timing;
  timing.buffer_bytes = 65536;  // ten blocks
  Make(timing);
  ASSERT_EQ(recorder_->StartRecording(), std::nullopt);
  faults_->hold_writes = true;
  std::atomic<int> delivered{0};
  std::thread delivery([&] {
    for (int i = 0; i < 40; ++i) {
      Deliver(i, 1);
      ++delivered;
    }
  });
  EXPECT_TRUE(testing::Eventually([&] { return delivered.load() == 10; }));
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(delivered.load(), 10);
  faults_->hold_writes = false;
  delivery.join();
  ASSERT_EQ(recorder_->StopRecording(), std::nullopt);
  ExpectFinished(scratch_ / kName);
  EXPECT_EQ(SampleBytes(scratch_ / kName), Stored(0, 40, 0));
}

// The delivery thread had begun the next file, which the writing thread had
// not yet created: the current file ends where that one was to start.
TEST_F(RecordingSurvivalTest, AtProcessExitTheCurrentFileEndsWhereTheNextWasToStart) {
  Make({}, 2 * 6144);
  ASSERT_EQ(recorder_->StartRecording(), std::nullopt);
  faults_->hold_writes = true;
  Deliver(0, 3);
  ASSERT_TRUE(testing::Eventually([&] { return faults_->writes_held > 0; }));
  recorder_->FinishAtProcessExit();
  ExpectFinished(scratch_ / kName);
  EXPECT_EQ(SampleBytes(scratch_ / kName), Stored(0, 2, 0));
  faults_->hold_writes = false;
}

}  // namespace
}  // namespace halvorn::recorder

// The recording inspector run as a program on recordings the real recorder
// wrote: finished ones, one a crash left unfinished, and files that are not
// recordings at all.
#include <sndfile.h>
#include <sys/wait.h>

#include <cstdio>

#include "host/callback_recorder.h"
#include "tests/support/fake_device.h"
#include "tests/support/fake_user_interface.h"
#include "tests/unit/recorder_test_support.h"

namespace halvorn {
namespace {

using testing::ReadBytes;
using testing::SndfileFrames;
using testing::U32At;
using Bytes = std::vector<std::uint8_t>;

constexpr std::int64_t kStart = 1798761599;  // 2026-12-31T23:59:59Z
const std::string kName = "Thu Dec 31 23-59-59 2026.wav";

struct Outcome {
  int status = -1;
  std::string output;
};

Outcome Inspect(const std::string& arguments) {
  Outcome run;
  const std::string command = std::string(HALVORN_INSPECT) + " " + arguments + " 2>&1";
  if (FILE* pipe = popen(command.c_str(), "r")) {
    char buffer[512];
    while (std::fgets(buffer, sizeof buffer, pipe) != nullptr) run.output += buffer;
    const int status = pclose(pipe);
    run.status = WIFEXITED(status) ? WEXITSTATUS(status) : -1;
  }
  return run;
}

std::string Quoted(const testing::fs::path& path) { return "'" + path.string() + "'"; }

bool Has(const Outcome& run, const std::string& line) { return run.output.find(line) != std::string::npos; }

class InspectorTest : public ::testing::Test, protected testing::RecordingReceiverFixture {
 protected:
  InspectorTest() { host::CallbackRecorder::Instance().Reset(); }

  std::unique_ptr<recorder::Recorder> MakeRecorder() {
    recorder::RecorderOptions options;
    options.directory = recorder::MakePlatformRecordingDirectory(scratch_.path().string());
    options.clock = clock_.AsClock();
    return std::make_unique<recorder::Recorder>(receiver_, host_, ui_, view_, trace_, std::move(options));
  }
  void Record(int blocks) {
    auto recorder = MakeRecorder();
    ASSERT_EQ(recorder->StartRecording(), std::nullopt);
    for (int i = 0; i < blocks; ++i) {
      const Bytes block = testing::CountingBlock(static_cast<std::uint64_t>(i) * 1024);
      recorder->WriteBlock(block.data(), 1024);
    }
    ASSERT_EQ(recorder->StopRecording(), std::nullopt);
  }
  // A recording cut off by a crash: `blocks` in the file, its sizes covering
  // only the first `covered` of them, as its last update left them; older
  // versions left both sizes 0 (`covered` negative).
  void RecordAndCrash(int blocks, int covered = -1) {
    Record(blocks);
    const auto path = scratch_ / kName;
    Bytes bytes = ReadBytes(path);
    const std::uint32_t data = covered < 0 ? 0 : static_cast<std::uint32_t>(covered) * 6144;
    const std::uint32_t riff = covered < 0 ? 0 : data + 82;
    for (int i = 0; i < 4; ++i) {
      bytes[4 + i] = static_cast<std::uint8_t>(riff >> (8 * i));
      bytes[86 + i] = static_cast<std::uint8_t>(data >> (8 * i));
    }
    testing::WriteBytes(path, bytes);
  }

  testing::ManualClock clock_{kStart};
};

TEST_F(InspectorTest, AFinishedRecordingIsDescribedInPlainWords) {
  receiver_.SetLO(7050000);
  receiver_.SetAttenuatorStep(2);
  receiver_.EnablePreselector(true);
  receiver_.SetAdcPreamp(true);
  Record(125);
  const Outcome run = Inspect(Quoted(scratch_ / kName));
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Has(run, "Format:             PCM, 2 channels, 24 bits, 125000 samples/s, 6 bytes per frame, "
                       "750000 bytes/s\n")) << run.output;
  EXPECT_TRUE(Has(run, "LO:                 7050000 Hz\n")) << run.output;
  EXPECT_TRUE(Has(run, "Sample-rate index:  0\n")) << run.output;
  EXPECT_TRUE(Has(run, "Start time:         2026-12-31T23:59:59Z\n")) << run.output;
  EXPECT_TRUE(Has(run, "Attenuator:         20 dB\n")) << run.output;
  EXPECT_TRUE(Has(run, "Preselector:        on\n")) << run.output;
  EXPECT_TRUE(Has(run, "ADC preamp:         on\n")) << run.output;
  EXPECT_TRUE(Has(run, "ADC dither:         off\n")) << run.output;
  EXPECT_TRUE(Has(run, "Data:               768000 bytes, 128000 frames\n")) << run.output;
  EXPECT_TRUE(Has(run, "Duration:           1.024 s\n")) << run.output;
  EXPECT_TRUE(Has(run, "State:              finished\n")) << run.output;
}

TEST_F(InspectorTest, TwoMegaSampleRecordingsAreSixteenBits) {
  receiver_.SelectSampleRate(4);
  Record(2);
  const Outcome run = Inspect(Quoted(scratch_ / kName));
  EXPECT_EQ(run.status, 0) << run.output;
  EXPECT_TRUE(Has(run, "PCM, 2 channels, 16 bits, 2000000 samples/s, 4 bytes per frame, 8000000 bytes/s\n"))
      << run.output;
  EXPECT_TRUE(Has(run, "Data:               8192 bytes, 2048 frames\n")) << run.output;
}

TEST_F(InspectorTest, ACrashedRecordingIsReportedUnfinishedAndRepairedFromItsLength) {
  RecordAndCrash(3);
  const auto path = scratch_ / kName;
  const Bytes crashed = ReadBytes(path);
  ASSERT_EQ(crashed.size(), 90u + 3 * 6144);
  ASSERT_EQ(U32At(crashed, 4), 0u);
  ASSERT_EQ(U32At(crashed, 86), 0u);

  const Outcome look = Inspect(Quoted(path));
  EXPECT_EQ(look.status, 0) << look.output;
  EXPECT_TRUE(Has(look, "State:              unfinished")) << look.output;
  EXPECT_TRUE(Has(look, "Data:               18432 bytes, 3072 frames\n")) << look.output;

  const Outcome repair = Inspect(Quoted(path) + " --repair");
  EXPECT_EQ(repair.status, 0) << repair.output;
  EXPECT_TRUE(Has(repair, "repaired\n")) << repair.output;
  EXPECT_TRUE(Has(repair, "State:              finished\n")) << repair.output;
  const Bytes repaired = ReadBytes(path);
  EXPECT_EQ(U32At(repaired, 4), 82u + 3 * 6144);
  EXPECT_EQ(U32At(repaired, 86), 3u * 6144);
  EXPECT_EQ(Bytes(repaired.begin() + 90, repaired.end()), Bytes(crashed.begin() + 90, crashed.end()));
  EXPECT_EQ(SndfileFrames(path), 3072);

  const Outcome again = Inspect(Quoted(path) + " --repair");
  EXPECT_EQ(again.status, 0) << again.output;
  EXPECT_TRUE(Has(again, "already finished")) << again.output;
  EXPECT_EQ(ReadBytes(path), repaired);
}

TEST_F(InspectorTest, ARepairCutsOffATornFrame) {
  RecordAndCrash(1);
  const auto path = scratch_ / kName;
  Bytes bytes = ReadBytes(path);
  bytes.insert(bytes.end(), {1, 2, 3, 4});
  testing::WriteBytes(path, bytes);
  EXPECT_TRUE(Has(Inspect(Quoted(path)), "Torn frame:         4 bytes")) << Inspect(Quoted(path)).output;

  const Outcome repair = Inspect(Quoted(path) + " --repair");
  EXPECT_EQ(repair.status, 0) << repair.output;
  EXPECT_EQ(ReadBytes(path).size(), 90u + 6144);
  EXPECT_EQ(U32At(ReadBytes(path), 86), 6144u);
  EXPECT_EQ(SndfileFrames(path), 1024);
}

TEST_F(InspectorTest, ARecordingCutOffAfterItsLastUpdateIsRepairedToEverythingInIt) {
  RecordAndCrash(3, 2);
  const auto path = scratch_ / kName;
  Bytes bytes = ReadBytes(path);
  bytes.insert(bytes.end(), {1, 2, 3, 4});  // a block cut off in the middle
  testing::WriteBytes(path, bytes);
  EXPECT_EQ(SndfileFrames(path), 2048);

  const Outcome look = Inspect(Quoted(path));
  EXPECT_EQ(look.status, 0) << look.output;
  EXPECT_TRUE(Has(look, "State:              unfinished")) << look.output;
  EXPECT_TRUE(Has(look, "Torn frame:         4 bytes")) << look.output;

  const Outcome repair = Inspect(Quoted(path) + " --repair");
  EXPECT_EQ(repair.status, 0) << repair.output;
  EXPECT_TRUE(Has(repair, "State:              finished\n")) << repair.output;
  EXPECT_EQ(ReadBytes(path).size(), 90u + 3 * 6144);
  EXPECT_EQ(U32At(ReadBytes(path), 4), 82u + 3 * 6144);
  EXPECT_EQ(SndfileFrames(path), 3072);
}

TEST_F(InspectorTest, ARecordingThatCrashedBeforeItsFirstBlockRepairsToAnEmptyOne) {
  RecordAndCrash(0);
  const auto path = scratch_ / kName;
  EXPECT_TRUE(Has(Inspect(Quoted(path)), "State:              unfinished"));
  EXPECT_EQ(Inspect(Quoted(path) + " --repair").status, 0);
  const Bytes repaired = ReadBytes(path);
  ASSERT_EQ(repaired.size(), 90u);
  EXPECT_EQ(U32At(repaired, 4), 82u);
  EXPECT_EQ(U32At(repaired, 86), 0u);
}

TEST_F(InspectorTest, ACopyCutShortIsNeitherFinishedNorRepaired) {
  Record(2);
  const auto path = scratch_ / kName;
  Bytes bytes = ReadBytes(path);
  bytes.resize(bytes.size() - 6144);
  testing::WriteBytes(path, bytes);
  const Outcome look = Inspect(Quoted(path));
  EXPECT_EQ(look.status, 0) << look.output;
  EXPECT_TRUE(Has(look, "sizes disagree with the file")) << look.output;
  const Outcome repair = Inspect(Quoted(path) + " --repair");
  EXPECT_EQ(repair.status, 1) << repair.output;
  EXPECT_EQ(ReadBytes(path), bytes);
}

TEST_F(InspectorTest, FilesThatAreNotRecordingsAndWrongArgumentsFail) {
  testing::WriteBytes(scratch_ / "text.wav", Bytes(100, 'x'));
  const Outcome text = Inspect(Quoted(scratch_ / "text.wav"));
  EXPECT_EQ(text.status, 1);
  EXPECT_TRUE(Has(text, "not a RIFF/WAVE file")) << text.output;
  EXPECT_EQ(Inspect(Quoted(scratch_ / "missing.wav")).status, 1);
  EXPECT_EQ(Inspect("").status, 2);
}

}  // namespace
}  // namespace halvorn

// A host that ends its process while the plug-in records at 2 MS/s, in real
// time and as fast as the plug-in takes the blocks: the ending process kills
// the delivery thread and the recording's writing thread wherever they are,
// and the recording must still be a finished file of whole, consecutive
// blocks. Run many times, since where the threads are killed varies.
#include "tests/wine/panel_fixture.h"
#include "tests/wine/recording_support.h"

namespace halvorn::wine_tests {
namespace {

constexpr const char* kChildDirectory = "HALVORN_EXIT_RECORDING_DIRECTORY";
constexpr const char* kChildPacing = "HALVORN_EXIT_RECORDING_PACING";
constexpr int kTwoMegaButton = 1006 + kTwoMegaRow;
constexpr int kRuns = 8;

// Unpaced, the stream's ring drops blocks while the recording waits for the
// disk, so the file may skip some; each block in it must still be whole.
::testing::AssertionResult EveryBlockIsAWholeCountingBlock(const StoredRecording& recording) {
  const std::size_t block_bytes = StoredBlockBytes(kTwoMegaRow);
  for (std::size_t at = 0; at + block_bytes <= recording.data_bytes(); at += block_bytes) {
    std::vector<std::uint8_t> bytes(recording.bytes.begin(), recording.bytes.begin() + kHeaderBytes);
    bytes.insert(bytes.end(), recording.data() + at, recording.data() + at + block_bytes);
    const StoredRecording one(recording.name, std::move(bytes));
    if (::testing::AssertionResult whole = HoldsCountingRun(one, kTwoMegaRow); !whole) {
      return whole << " (block " << at / block_bytes << ")";
    }
  }
  return ::testing::AssertionSuccess();
}

std::string Environment(const char* name) {
  char value[MAX_PATH] = {};
  return GetEnvironmentVariableA(name, value, MAX_PATH) > 0 ? value : "";
}

// Runs only as the child that the tests below start.
class RecordingExitChild : public PanelTest {};

TEST_F(RecordingExitChild, DISABLED_RecordsAtTwoMegaSamplesThenEndsTheProcess) {
  const std::string directory = Environment(kChildDirectory);
  ASSERT_FALSE(directory.empty());
  ASSERT_TRUE(SetCurrentDirectoryA(directory.c_str()));
  SetSimulator("HALVORNSIM_SOURCE", "counting");
  SetSimulator("HALVORNSIM_PACING", Environment(kChildPacing));
  OpenReceiver();
  SendMessageA(Control(kTwoMegaButton), BM_CLICK, 0, 0);
  SendMessageA(Control(1022), BM_CLICK, 0, 0);
  plugin_->StartHW(7050000);
  // Past the first file's first second, so that the writing thread has both
  // written and brought the sizes up to date before the end comes.
  ASSERT_TRUE(PumpUntil([&] { return callback_.blocks() > 2500; }, 20000));
  ExitProcess(7);
}

class RecordingAtProcessExitTest : public PanelTest {
 protected:
  void EndChildProcessesWhileRecording(const char* pacing) {
    const std::string directory = RecordIntoTemporaryDirectory();
    for (int run = 0; run < kRuns; ++run) {
      SCOPED_TRACE(std::string(pacing) + " run " + std::to_string(run));
      const std::string run_directory = directory + std::to_string(run) + "\\";
      ASSERT_TRUE(CreateDirectoryA(run_directory.c_str(), nullptr));
      ASSERT_EQ(RunChild(run_directory, pacing), 7u) << "the child did not get as far as ending itself";
      const std::vector<std::string> files = FilesIn(run_directory);
      ASSERT_EQ(files.size(), 1u) << run_directory;
      const std::optional<StoredRecording> recording = ReadRecording(run_directory + files[0]);
      ASSERT_TRUE(recording.has_value());
      EXPECT_TRUE(IsFinished(*recording));
      EXPECT_TRUE(HasFormat(*recording, kTwoMegaRow, 2000000));
      EXPECT_GT(recording->data_size(), 0u);
      EXPECT_EQ(recording->data_size() % StoredBlockBytes(kTwoMegaRow), 0u);
      if (std::string(pacing) == "realtime") {
        EXPECT_TRUE(HoldsCountingRun(*recording, kTwoMegaRow));
      } else {
        EXPECT_TRUE(EveryBlockIsAWholeCountingBlock(*recording));
      }
      DeleteFileA((run_directory + files[0]).c_str());
      RemoveDirectoryA(run_directory.c_str());
    }
  }

  // The child's exit code; 0 when it hung and was ended.
  static DWORD RunChild(const std::string& directory, const char* pacing) {
    SetEnvironmentVariableA(kChildDirectory, directory.c_str());
    SetEnvironmentVariableA(kChildPacing, pacing);
    const DWORD exit_code =
        RunTestInChildProcess("RecordingExitChild.DISABLED_RecordsAtTwoMegaSamplesThenEndsTheProcess");
    SetEnvironmentVariableA(kChildDirectory, nullptr);
    SetEnvironmentVariableA(kChildPacing, nullptr);
    return exit_code;
  }
};

TEST_F(RecordingAtProcessExitTest, InRealTimeEveryEndLeavesAFinishedFileOfWholeBlocks) {
  EndChildProcessesWhileRecording("realtime");
}

TEST_F(RecordingAtProcessExitTest, UnpacedEveryEndLeavesAFinishedFileOfWholeBlocks) {
  EndChildProcessesWhileRecording("unpaced");
}

}  // namespace
}  // namespace halvorn::wine_tests

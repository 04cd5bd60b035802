// A host that ends its process while the plug-in streams and records, without
// stopping anything: the process must end at once, and the recording must be
// a finished file.
#include "tests/wine/panel_fixture.h"

namespace halvorn::wine_tests {
namespace {

constexpr const char* kChildDirectory = "HALVORN_EXIT_CHILD_DIRECTORY";

// Runs only as the child that the test below starts.
class ProcessExitChild : public PanelTest {};

TEST_F(ProcessExitChild, DISABLED_StreamsAndRecordsThenEndsTheProcess) {
  char directory[MAX_PATH] = {};
  ASSERT_NE(GetEnvironmentVariableA(kChildDirectory, directory, MAX_PATH), 0u);
  ASSERT_TRUE(SetCurrentDirectoryA(directory));
  SetSimulator("HALVORNSIM_SOURCE", "counting");
  OpenReceiver();
  plugin_->StartHW(7050000);
  SendMessageA(Control(panel::kRecButton), BM_CLICK, 0, 0);
  ASSERT_TRUE(PumpUntil([&] { return callback_.blocks() > 200; }, 10000));
  ExitProcess(7);
}

TEST_F(PanelTest, EndingTheProcessWhileStreamingAndRecordingLeavesAFinishedFile) {
  const std::string directory = RecordIntoTemporaryDirectory();
  SetEnvironmentVariableA(kChildDirectory, directory.c_str());
  const DWORD exit_code = RunTestInChildProcess("ProcessExitChild.DISABLED_StreamsAndRecordsThenEndsTheProcess");
  SetEnvironmentVariableA(kChildDirectory, nullptr);
  ASSERT_EQ(exit_code, 7u) << "the child hung, or did not get as far as ending itself";

  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA((directory + "*.wav").c_str(), &found);
  ASSERT_NE(search, INVALID_HANDLE_VALUE) << "no recording in " << directory;
  FindClose(search);
  const RecordingSizes sizes = ReadRecordingSizes(directory + found.cFileName);
  EXPECT_GT(sizes.data_size, 0u);
  EXPECT_EQ(sizes.riff_size, sizes.file_bytes - 8);
  EXPECT_EQ(sizes.data_size, sizes.file_bytes - 90);
  EXPECT_EQ(sizes.data_size % 6144, 0u);
}

}  // namespace
}  // namespace halvorn::wine_tests

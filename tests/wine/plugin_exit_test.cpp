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
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  std::string line = std::string("\"") + program +
                     "\" --gtest_also_run_disabled_tests "
                     "--gtest_filter=ProcessExitChild.DISABLED_StreamsAndRecordsThenEndsTheProcess";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  ASSERT_TRUE(CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child));
  const DWORD waited = WaitForSingleObject(child.hProcess, 60000);
  DWORD exit_code = 0;
  GetExitCodeProcess(child.hProcess, &exit_code);
  if (waited != WAIT_OBJECT_0) TerminateProcess(child.hProcess, 1);
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  SetEnvironmentVariableA(kChildDirectory, nullptr);
  ASSERT_EQ(waited, WAIT_OBJECT_0) << "the ending process hung";
  ASSERT_EQ(exit_code, 7u) << "the child did not get as far as ending itself";

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

// Recordings of the simulated antenna signal at 125 kS/s (24 bits) and 2 MS/s
// (16 bits), each checked against the blocks the host received. When
// HALVORN_READBACK_DIR names a directory, the recordings and those blocks are
// left there, with a list of them, for readers outside Wine (libsndfile, sox:
// tests/readback/).
#include <cstdio>

#include "tests/wine/recording_support.h"

namespace halvorn::wine_tests {
namespace {

struct RowToRecord {
  int row;
  std::uint32_t rate_hz;
  DWORD milliseconds;
};

std::string ReadbackDirectory() {
  char path[MAX_PATH] = {};
  const DWORD length = GetEnvironmentVariableA("HALVORN_READBACK_DIR", path, MAX_PATH);
  return length > 0 && length < MAX_PATH ? std::string(path, length) : std::string();
}

bool WriteFileBytes(const std::string& path, const std::uint8_t* bytes, std::size_t size) {
  std::ofstream out(path, std::ios::binary | std::ios::trunc);
  out.write(reinterpret_cast<const char*>(bytes), static_cast<std::streamsize>(size));
  return static_cast<bool>(out);
}

using RecorderReadbackTest = RecordingTest;

TEST_F(RecorderReadbackTest, RecordingsOfTheSignalHoldWhatTheHostReceivedAtBothSampleSizes) {
  const std::string readback = ReadbackDirectory();
  // Kept for the readers when asked for; the test's own directory otherwise.
  const std::string root = readback.empty() ? scratch_->path() : readback;
  ASSERT_NE(GetFileAttributesA(root.c_str()), INVALID_FILE_ATTRIBUTES) << root;
  std::string manifest;

  ASSERT_NO_FATAL_FAILURE(OpenAtRow(0));
  for (const RowToRecord& step : {RowToRecord{0, 125000, 800}, RowToRecord{kTwoMegaRow, 2000000, 300}}) {
    SCOPED_TRACE(step.row);
    // The rate buttons are idle-only controls, and a new rate reaches the
    // receiver with the next StartHW.
    if (step.row != 0) {
      ASSERT_NO_FATAL_FAILURE(ClickAsUser(kFirstRateButton + step.row));
    }
    const std::string folder = "row" + std::to_string(step.row);
    const std::string directory = root + "\\" + folder;
    RemoveTree(directory);
    ASSERT_TRUE(CreateDirectoryA(directory.c_str(), nullptr)) << directory;
    ASSERT_TRUE(SetCurrentDirectoryA(directory.c_str()));

    ASSERT_NO_FATAL_FAILURE(StartStream("scene", "realtime"));
    ASSERT_NO_FATAL_FAILURE(StartCapture(4096));
    std::string name;
    ASSERT_NO_FATAL_FAILURE(name = ClickRec());
    host::PumpMessagesFor(step.milliseconds);
    ASSERT_NO_FATAL_FAILURE(ClickStop());
    capture_->Stop();
    plugin_->StopHW();

    const auto recording = ReadRecording(name);
    ASSERT_TRUE(recording) << name;
    EXPECT_TRUE(IsFinished(*recording));
    EXPECT_TRUE(HasFormat(*recording, step.row, step.rate_hz));
    EXPECT_GE(recording->data_bytes(), 4 * StoredBlockBytes(step.row));
    EXPECT_TRUE(HoldsRunOfHostBlocks(*recording, step.row, *capture_));

    ASSERT_TRUE(WriteFileBytes("host-blocks.raw", capture_->block(0),
                               capture_->blocks() * static_cast<std::size_t>(kBlockBytes)));
    manifest += folder + "/" + name + "\t" + folder + "/host-blocks.raw\t" + std::to_string(step.rate_hz) + "\t" +
                (step.row == kTwoMegaRow ? "16" : "24") + "\n";
  }
  ASSERT_TRUE(SetCurrentDirectoryA(root.c_str()));
  ASSERT_TRUE(WriteFileBytes("manifest.txt", reinterpret_cast<const std::uint8_t*>(manifest.data()), manifest.size()));
  if (!readback.empty()) std::printf("recordings for the readers in %s\n", readback.c_str());
}

}  // namespace
}  // namespace halvorn::wine_tests

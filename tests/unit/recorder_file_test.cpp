// The platform's recording files: exclusive creation, appends, overwrites in
// place, truncation, and the system's own reasons for failures.
#include "recorder/recording_file.h"

#include <sys/resource.h>

#include <csignal>
#include <cstring>

#include "tests/unit/recorder_test_support.h"

namespace halvorn::recorder {
namespace {

using testing::ReadBytes;
using testing::ScratchDirectory;
using Bytes = std::vector<std::uint8_t>;
using CreateStatus = RecordingDirectory::CreateStatus;

class RecordingFileTest : public ::testing::Test {
 protected:
  ScratchDirectory scratch_;
  std::unique_ptr<RecordingDirectory> directory_ = MakePlatformRecordingDirectory(scratch_.path().string());
};

TEST_F(RecordingFileTest, AnExistingNameIsNeverOpenedAndItsFileIsLeftAlone) {
  testing::WriteBytes(scratch_ / "taken.wav", {1, 2, 3});
  const auto created = directory_->CreateNew("taken.wav");
  EXPECT_EQ(created.status, CreateStatus::kNameTaken);
  EXPECT_EQ(created.file, nullptr);
  EXPECT_EQ(ReadBytes(scratch_ / "taken.wav"), (Bytes{1, 2, 3}));
}

TEST_F(RecordingFileTest, AppendsGoOnAfterOverwritesAndFromWhereATruncationCut) {
  auto created = directory_->CreateNew("new.wav");
  ASSERT_EQ(created.status, CreateStatus::kCreated);
  RecordingFile& file = *created.file;
  const Bytes first = {1, 2, 3, 4, 5, 6};
  EXPECT_EQ(file.Write(first.data(), first.size()), first.size());
  const Bytes patch = {9, 9};
  EXPECT_TRUE(file.WriteAt(1, patch.data(), patch.size()));
  const Bytes more = {7, 8};
  EXPECT_EQ(file.Write(more.data(), more.size()), more.size());
  EXPECT_TRUE(file.Truncate(5));
  EXPECT_EQ(file.Write(more.data(), more.size()), more.size());
  EXPECT_TRUE(file.Close());
  EXPECT_TRUE(file.Close());
  EXPECT_EQ(ReadBytes(scratch_ / "new.wav"), (Bytes{1, 9, 9, 4, 5, 7, 8}));
}

TEST_F(RecordingFileTest, AMissingDirectoryFailsWithTheSystemsReason) {
  auto missing = MakePlatformRecordingDirectory((scratch_ / "gone").string());
  const auto created = missing->CreateNew("x.wav");
  EXPECT_EQ(created.status, CreateStatus::kFailed);
  EXPECT_EQ(created.error.code, ENOENT);
  EXPECT_EQ(missing->Describe(created.error), std::strerror(ENOENT));
  EXPECT_EQ(missing->PathOf("x.wav"), (scratch_ / "gone" / "x.wav").string());
}

TEST_F(RecordingFileTest, AFileWhereTheDirectoryShouldBeFails) {
  testing::WriteBytes(scratch_ / "plain", {0});
  auto not_a_directory = MakePlatformRecordingDirectory((scratch_ / "plain").string());
  const auto created = not_a_directory->CreateNew("x.wav");
  EXPECT_EQ(created.status, CreateStatus::kFailed);
  EXPECT_EQ(created.error.code, ENOTDIR);
}

TEST_F(RecordingFileTest, TheCurrentDirectoryIsTheDefault) {
  const auto saved = std::filesystem::current_path();
  std::filesystem::current_path(scratch_.path());
  auto here = MakePlatformRecordingDirectory();
  const auto created = here->CreateNew("here.wav");
  const std::string path = here->PathOf("here.wav");
  std::filesystem::current_path(saved);
  EXPECT_EQ(created.status, CreateStatus::kCreated);
  EXPECT_TRUE(std::filesystem::exists(scratch_ / "here.wav"));
  EXPECT_EQ(path, (scratch_ / "here.wav").string());
}

TEST_F(RecordingFileTest, RemoveDeletesTheFile) {
  ASSERT_EQ(directory_->CreateNew("temp.wav").status, CreateStatus::kCreated);
  EXPECT_TRUE(directory_->Remove("temp.wav"));
  EXPECT_FALSE(std::filesystem::exists(scratch_ / "temp.wav"));
}

// A real short write: the process's file-size limit plays a full disk.
TEST_F(RecordingFileTest, AShortWriteReportsTheBytesThatReachedTheFile) {
  const auto child = [&] {
    std::signal(SIGXFSZ, SIG_IGN);
    const rlimit limit{1000, 1000};
    setrlimit(RLIMIT_FSIZE, &limit);
    auto created = directory_->CreateNew("short.wav");
    const Bytes block(6144, 0x5A);
    const std::size_t written = created.file->Write(block.data(), block.size());
    const bool ok = written == 1000 && created.file->error().code == EFBIG &&
                    created.file->Write(block.data(), 1) == 0;
    std::_Exit(ok ? 0 : 1);
  };
  EXPECT_EXIT(child(), ::testing::ExitedWithCode(0), "");
  EXPECT_EQ(ReadBytes(scratch_ / "short.wav").size(), 1000u);
}

}  // namespace
}  // namespace halvorn::recorder

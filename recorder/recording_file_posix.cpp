#include <fcntl.h>
#include <unistd.h>

#include <cerrno>
#include <filesystem>
#include <system_error>

#include "recorder/recording_file.h"

namespace halvorn::recorder {
namespace {

class PosixRecordingFile final : public RecordingFile {
 public:
  explicit PosixRecordingFile(int fd) : fd_(fd) {}
  ~PosixRecordingFile() override { Close(); }

  std::size_t Write(const std::uint8_t* data, std::size_t bytes) override {
    std::size_t written = 0;
    while (written < bytes) {
      const ssize_t result = ::pwrite(fd_, data + written, bytes - written, static_cast<off_t>(end_));
      if (result < 0 && errno == EINTR) continue;
      if (result <= 0) {
        error_.code = result < 0 ? errno : ENOSPC;
        break;
      }
      written += static_cast<std::size_t>(result);
      end_ += static_cast<std::uint64_t>(result);
    }
    return written;
  }

  bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t bytes) override {
    std::size_t written = 0;
    while (written < bytes) {
      const ssize_t result = ::pwrite(fd_, data + written, bytes - written, static_cast<off_t>(offset + written));
      if (result < 0 && errno == EINTR) continue;
      if (result <= 0) {
        error_.code = result < 0 ? errno : ENOSPC;
        return false;
      }
      written += static_cast<std::size_t>(result);
    }
    return true;
  }

  bool Truncate(std::uint64_t length) override {
    if (::ftruncate(fd_, static_cast<off_t>(length)) != 0) {
      error_.code = errno;
      return false;
    }
    end_ = length;
    return true;
  }

  bool Close() override {
    if (fd_ < 0) return true;
    const int fd = fd_;
    fd_ = -1;
    // The descriptor is released even when close reports an error: never retry.
    if (::close(fd) != 0 && errno != EINTR) {
      error_.code = errno;
      return false;
    }
    return true;
  }

  FileError error() const override { return error_; }

 private:
  int fd_;
  std::uint64_t end_ = 0;  // where the next append goes
  FileError error_;
};

class PosixRecordingDirectory final : public RecordingDirectory {
 public:
  explicit PosixRecordingDirectory(std::string directory) : directory_(std::move(directory)) {}

  Created CreateNew(const char* name) override {
    Created created;
    const std::string path = Join(name);
    const int fd = ::open(path.c_str(), O_WRONLY | O_CREAT | O_EXCL | O_CLOEXEC, 0666);
    if (fd < 0) {
      created.error.code = errno;
      created.status = errno == EEXIST ? CreateStatus::kNameTaken : CreateStatus::kFailed;
      return created;
    }
    created.status = CreateStatus::kCreated;
    created.file = std::make_unique<PosixRecordingFile>(fd);
    return created;
  }

  bool Remove(const char* name) override { return ::unlink(Join(name).c_str()) == 0; }

  std::string PathOf(const char* name) const override {
    std::error_code error;
    const auto base = directory_.empty() ? std::filesystem::current_path(error) : std::filesystem::path(directory_);
    return (error ? std::filesystem::path(name) : base / name).string();
  }

  std::string Describe(FileError error) const override {
    return std::error_code(error.code, std::generic_category()).message();
  }

 private:
  std::string Join(const char* name) const { return directory_.empty() ? name : directory_ + "/" + name; }

  std::string directory_;
};

}  // namespace

std::unique_ptr<RecordingDirectory> MakePlatformRecordingDirectory(std::string directory) {
  return std::make_unique<PosixRecordingDirectory>(std::move(directory));
}

}  // namespace halvorn::recorder

#include <windows.h>

#include "recorder/recording_file.h"

namespace halvorn::recorder {
namespace {

// Largest piece handed to one WriteFile call.
constexpr std::size_t kMaxWriteBytes = 1u << 30;

OVERLAPPED At(std::uint64_t offset) {
  OVERLAPPED position{};
  position.Offset = static_cast<DWORD>(offset);
  position.OffsetHigh = static_cast<DWORD>(offset >> 32);
  return position;
}

class Win32RecordingFile final : public RecordingFile {
 public:
  explicit Win32RecordingFile(HANDLE file) : file_(file) {}
  ~Win32RecordingFile() override { Close(); }

  // Every write names its offset, so the appends never depend on the file
  // pointer that WriteAt moves.
  std::size_t Write(const std::uint8_t* data, std::size_t bytes) override {
    std::size_t written = 0;
    WriteFrom(end_, data, bytes, written);
    end_ += written;
    return written;
  }

  bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t bytes) override {
    std::size_t written = 0;
    return WriteFrom(offset, data, bytes, written);
  }

  bool Truncate(std::uint64_t length) override {
    LARGE_INTEGER position;
    position.QuadPart = static_cast<LONGLONG>(length);
    if (!SetFilePointerEx(file_, position, nullptr, FILE_BEGIN) || !SetEndOfFile(file_)) {
      error_.code = static_cast<int>(GetLastError());
      return false;
    }
    end_ = length;
    return true;
  }

  bool Close() override {
    if (file_ == INVALID_HANDLE_VALUE) return true;
    const HANDLE file = file_;
    file_ = INVALID_HANDLE_VALUE;
    if (!CloseHandle(file)) {
      error_.code = static_cast<int>(GetLastError());
      return false;
    }
    return true;
  }

  FileError error() const override { return error_; }

 private:
  bool WriteFrom(std::uint64_t offset, const std::uint8_t* data, std::size_t bytes, std::size_t& written) {
    while (written < bytes) {
      const std::size_t piece = bytes - written < kMaxWriteBytes ? bytes - written : kMaxWriteBytes;
      OVERLAPPED position = At(offset + written);
      DWORD done = 0;
      const BOOL ok = WriteFile(file_, data + written, static_cast<DWORD>(piece), &done, &position);
      written += done;
      if (!ok || done == 0) {
        error_.code = ok ? static_cast<int>(ERROR_DISK_FULL) : static_cast<int>(GetLastError());
        return false;
      }
    }
    return true;
  }

  HANDLE file_;
  std::uint64_t end_ = 0;  // where the next append goes
  FileError error_;
};

class Win32RecordingDirectory final : public RecordingDirectory {
 public:
  explicit Win32RecordingDirectory(std::string directory) : directory_(std::move(directory)) {}

  Created CreateNew(const char* name) override {
    Created created;
    const HANDLE file = CreateFileA(Join(name).c_str(), GENERIC_WRITE, FILE_SHARE_READ | FILE_SHARE_WRITE,
                                    nullptr, CREATE_NEW, FILE_ATTRIBUTE_NORMAL, nullptr);
    if (file == INVALID_HANDLE_VALUE) {
      const DWORD code = GetLastError();
      created.error.code = static_cast<int>(code);
      created.status = code == ERROR_FILE_EXISTS || code == ERROR_ALREADY_EXISTS ? CreateStatus::kNameTaken
                                                                                 : CreateStatus::kFailed;
      return created;
    }
    created.status = CreateStatus::kCreated;
    created.file = std::make_unique<Win32RecordingFile>(file);
    return created;
  }

  bool Remove(const char* name) override { return DeleteFileA(Join(name).c_str()) != 0; }

  std::string PathOf(const char* name) const override {
    char full[MAX_PATH * 4];
    const DWORD length = GetFullPathNameA(Join(name).c_str(), sizeof full, full, nullptr);
    return length > 0 && length < sizeof full ? std::string(full, length) : Join(name);
  }

  std::string Describe(FileError error) const override {
    char text[512];
    DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr,
                                  static_cast<DWORD>(error.code), 0, text, sizeof text, nullptr);
    while (length > 0 && (text[length - 1] == '\n' || text[length - 1] == '\r' || text[length - 1] == '.' ||
                          text[length - 1] == ' ')) {
      --length;
    }
    if (length == 0) return "system error " + std::to_string(static_cast<unsigned>(error.code));
    return std::string(text, length);
  }

 private:
  std::string Join(const char* name) const { return directory_.empty() ? name : directory_ + "\\" + name; }

  std::string directory_;
};

}  // namespace

std::unique_ptr<RecordingDirectory> MakePlatformRecordingDirectory(std::string directory) {
  return std::make_unique<Win32RecordingDirectory>(std::move(directory));
}

}  // namespace halvorn::recorder

// Where recordings are written: a directory that creates files exclusively,
// and the open file the recorder appends to. One implementation per platform;
// tests wrap them to make any step fail.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

namespace halvorn::recorder {

// The platform's code for why a file operation failed (errno, GetLastError).
struct FileError {
  int code = 0;
};

class RecordingFile {
 public:
  // Closes the file if Close was not called.
  virtual ~RecordingFile() = default;
  // Appends after everything appended so far. Returns the bytes that reached
  // the file; fewer than `bytes` means the write failed, and error() says why.
  virtual std::size_t Write(const std::uint8_t* data, std::size_t bytes) = 0;
  // Overwrites bytes already in the file; appending carries on where it was.
  virtual bool WriteAt(std::uint64_t offset, const std::uint8_t* data, std::size_t bytes) = 0;
  // Cuts the file to `length` bytes; appending carries on from there.
  virtual bool Truncate(std::uint64_t length) = 0;
  virtual bool Close() = 0;
  virtual FileError error() const = 0;
};

class RecordingDirectory {
 public:
  enum class CreateStatus { kCreated, kNameTaken, kFailed };
  struct Created {
    CreateStatus status = CreateStatus::kFailed;
    std::unique_ptr<RecordingFile> file;  // set only when created
    FileError error;
  };

  virtual ~RecordingDirectory() = default;
  // Creates `name` empty, for writing, without denying others read or write
  // access. Never opens a file that exists already: that is kNameTaken.
  virtual Created CreateNew(const char* name) = 0;
  // Deletes a file this directory created.
  virtual bool Remove(const char* name) = 0;
  // The file's full path, for messages.
  virtual std::string PathOf(const char* name) const = 0;
  // The system's own words for `error`.
  virtual std::string Describe(FileError error) const = 0;
};

// Files in `directory`; empty: the process's current directory at the moment
// each file is created.
std::unique_ptr<RecordingDirectory> MakePlatformRecordingDirectory(std::string directory = {});

}  // namespace halvorn::recorder

// A file the tools make, written under a name of its own beside its target
// and renamed over the target only when whole: a failed run never leaves part
// of a file under the name asked for, nor spoils a file already there.
#pragma once

#include <cstddef>
#include <cstdio>
#include <optional>
#include <string>

namespace halvorn::recording {

class ReplacingFile {
 public:
  explicit ReplacingFile(std::string target);
  ~ReplacingFile();  // removes the partial file unless it was committed
  ReplacingFile(const ReplacingFile&) = delete;
  ReplacingFile& operator=(const ReplacingFile&) = delete;

  // False once anything failed; the first failure is kept for Commit.
  bool Write(const void* bytes, std::size_t size);
  // Closes the file and puts it in its target's place; the reason when the
  // file could not be created, written or renamed.
  std::optional<std::string> Commit();
  // Makes Commit fail with `why` (a writer's own failure, not a file's).
  void Fail(const std::string& why);
  // The first failure so far.
  const std::optional<std::string>& failure() const { return failure_; }

 private:
  std::string target_;
  std::string partial_;
  std::FILE* file_;
  const bool created_;
  std::optional<std::string> failure_;
  bool committed_ = false;
};

}  // namespace halvorn::recording

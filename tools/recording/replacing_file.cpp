#include "tools/recording/replacing_file.h"

#include <cerrno>
#include <cstring>

#include "tools/recording/file_system.h"

namespace halvorn::recording {

ReplacingFile::ReplacingFile(std::string target)
    : target_(std::move(target)), partial_(target_ + ".partial"), file_(std::fopen(partial_.c_str(), "wb")),
      created_(file_ != nullptr) {
  if (!created_) failure_ = "cannot create " + partial_ + ": " + std::strerror(errno);
}

ReplacingFile::~ReplacingFile() {
  if (file_ != nullptr) std::fclose(file_);
  // Only a partial file of its own: whatever else stood in its way stays.
  if (created_ && !committed_) std::remove(partial_.c_str());
}

bool ReplacingFile::Write(const void* bytes, std::size_t size) {
  if (failure_) return false;
  if (std::fwrite(bytes, 1, size, file_) != size) failure_ = "cannot write " + partial_ + ": " + std::strerror(errno);
  return !failure_;
}

void ReplacingFile::Fail(const std::string& why) {
  if (!failure_) failure_ = why;
}

std::optional<std::string> ReplacingFile::Commit() {
  if (file_ != nullptr) {
    const bool closed = std::fclose(file_) == 0;
    file_ = nullptr;
    if (!closed && !failure_) failure_ = "cannot write " + partial_ + ": " + std::strerror(errno);
  }
  if (failure_) return failure_;
  if (auto error = RenameOver(partial_, target_)) return "cannot rename " + partial_ + " to " + target_ + ": " + *error;
  committed_ = true;
  return std::nullopt;
}

}  // namespace halvorn::recording

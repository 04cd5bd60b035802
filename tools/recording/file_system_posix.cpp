#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "tools/recording/file_system.h"

namespace halvorn::recording {

bool IsDirectory(const std::string& path) {
  struct stat status {};
  return stat(path.c_str(), &status) == 0 && S_ISDIR(status.st_mode);
}

bool SameFile(const std::string& a, const std::string& b) {
  struct stat first {}, second {};
  return stat(a.c_str(), &first) == 0 && stat(b.c_str(), &second) == 0 && first.st_dev == second.st_dev &&
         first.st_ino == second.st_ino;
}

std::optional<std::string> RenameOver(const std::string& from, const std::string& to) {
  if (std::rename(from.c_str(), to.c_str()) == 0) return std::nullopt;
  return std::strerror(errno);
}

std::optional<std::string> CutFile(const std::string& path, std::uint64_t length) {
  if (truncate(path.c_str(), static_cast<off_t>(length)) == 0) return std::nullopt;
  return std::strerror(errno);
}

bool SeekTo(std::FILE* file, std::uint64_t offset) { return fseeko(file, static_cast<off_t>(offset), SEEK_SET) == 0; }

std::optional<std::uint64_t> LengthOf(std::FILE* file) {
  if (fseeko(file, 0, SEEK_END) != 0) return std::nullopt;
  const off_t length = ftello(file);
  if (length < 0) return std::nullopt;
  return static_cast<std::uint64_t>(length);
}

}  // namespace halvorn::recording

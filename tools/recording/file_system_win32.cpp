#include <windows.h>

#include "tools/recording/file_system.h"

namespace halvorn::recording {
namespace {

std::string LastError() {
  const DWORD code = GetLastError();
  char text[256] = {};
  const DWORD length = FormatMessageA(FORMAT_MESSAGE_FROM_SYSTEM | FORMAT_MESSAGE_IGNORE_INSERTS, nullptr, code, 0,
                                      text, sizeof text, nullptr);
  std::string message(text, length);
  while (!message.empty() && (message.back() == '\n' || message.back() == '\r' || message.back() == '.')) {
    message.pop_back();
  }
  return message.empty() ? "Windows error " + std::to_string(code) : message;
}

// A handle that reads nothing: enough to ask what the file is.
HANDLE OpenToLookAt(const std::string& path, DWORD access) {
  return CreateFileA(path.c_str(), access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE, nullptr,
                     OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

std::optional<BY_HANDLE_FILE_INFORMATION> Identity(const std::string& path) {
  const HANDLE file = OpenToLookAt(path, 0);
  if (file == INVALID_HANDLE_VALUE) return std::nullopt;
  BY_HANDLE_FILE_INFORMATION information{};
  const bool known = GetFileInformationByHandle(file, &information) != 0;
  CloseHandle(file);
  if (!known) return std::nullopt;
  return information;
}

}  // namespace

bool IsDirectory(const std::string& path) {
  const DWORD attributes = GetFileAttributesA(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) != 0;
}

bool SameFile(const std::string& a, const std::string& b) {
  const auto first = Identity(a);
  const auto second = Identity(b);
  return first && second && first->dwVolumeSerialNumber == second->dwVolumeSerialNumber &&
         first->nFileIndexHigh == second->nFileIndexHigh && first->nFileIndexLow == second->nFileIndexLow;
}

std::optional<std::string> RenameOver(const std::string& from, const std::string& to) {
  if (MoveFileExA(from.c_str(), to.c_str(), MOVEFILE_REPLACE_EXISTING) != 0) return std::nullopt;
  return LastError();
}

std::optional<std::string> CutFile(const std::string& path, std::uint64_t length) {
  const HANDLE file = OpenToLookAt(path, GENERIC_WRITE);
  if (file == INVALID_HANDLE_VALUE) return LastError();
  LARGE_INTEGER end{};
  end.QuadPart = static_cast<LONGLONG>(length);
  const bool cut = SetFilePointerEx(file, end, nullptr, FILE_BEGIN) != 0 && SetEndOfFile(file) != 0;
  std::optional<std::string> error;
  if (!cut) error = LastError();
  CloseHandle(file);
  return error;
}

bool SeekTo(std::FILE* file, std::uint64_t offset) {
  return _fseeki64(file, static_cast<__int64>(offset), SEEK_SET) == 0;
}

std::optional<std::uint64_t> LengthOf(std::FILE* file) {
  if (_fseeki64(file, 0, SEEK_END) != 0) return std::nullopt;
  const __int64 length = _ftelli64(file);
  if (length < 0) return std::nullopt;
  return static_cast<std::uint64_t>(length);
}

}  // namespace halvorn::recording

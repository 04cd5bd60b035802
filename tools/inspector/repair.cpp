#include "tools/inspector/repair.h"

#include <cstdio>

#include "tools/recording/file_system.h"

namespace halvorn::inspector {
namespace {

bool WriteSize(std::FILE* file, long offset, std::uint32_t value) {
  const unsigned char bytes[4] = {static_cast<unsigned char>(value), static_cast<unsigned char>(value >> 8),
                                  static_cast<unsigned char>(value >> 16), static_cast<unsigned char>(value >> 24)};
  return std::fseek(file, offset, SEEK_SET) == 0 && std::fwrite(bytes, 1, 4, file) == 4;
}

}  // namespace

bool RepairRecording(const std::string& path, const recording::RecordingInfo& info, std::string& error) {
  const std::uint64_t whole = info.data_bytes - info.torn_bytes();
  const std::uint64_t riff_size = info.data_offset - 8 + whole;
  if (riff_size > 0xFFFFFFFFu) {
    error = "the data is too long for the 32-bit sizes of the format";
    return false;
  }
  if (info.data_offset > 0x7FFFFFFF) {
    error = "the \"data\" chunk starts too far into the file";
    return false;
  }
  if (whole != info.data_bytes) {
    if (auto why = recording::CutFile(path, info.data_offset + whole)) {
      error = "cannot cut the torn frame off: " + *why;
      return false;
    }
  }
  std::FILE* file = std::fopen(path.c_str(), "r+b");
  if (file == nullptr) {
    error = "cannot open the file for writing";
    return false;
  }
  const bool written = WriteSize(file, 4, static_cast<std::uint32_t>(riff_size)) &&
                       WriteSize(file, static_cast<long>(info.data_offset - 4), static_cast<std::uint32_t>(whole));
  const bool closed = std::fclose(file) == 0;
  if (!written || !closed) {
    error = "cannot write the sizes";
    return false;
  }
  return true;
}

}  // namespace halvorn::inspector

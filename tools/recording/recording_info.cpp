#include "tools/recording/recording_info.h"

#include <algorithm>
#include <cerrno>
#include <cstdio>
#include <cstring>
#include <memory>

#include "tools/recording/file_system.h"

namespace halvorn::recording {
namespace {

std::uint64_t Little(const std::uint8_t* bytes, int size) {
  std::uint64_t value = 0;
  for (int i = size - 1; i >= 0; --i) value = value << 8 | bytes[i];
  return value;
}

bool IsCode(const std::uint8_t* bytes, const char* code) {
  for (int i = 0; i < 4; ++i) {
    if (bytes[i] != static_cast<std::uint8_t>(code[i])) return false;
  }
  return true;
}

// The chunks read here are small; anything longer is only stepped over.
constexpr std::uint32_t kLongestReadChunk = 256;

// WAVE_FORMAT_EXTENSIBLE names its sample format by a GUID whose first two
// bytes are the format's old tag and whose other fourteen are these.
constexpr std::uint8_t kSubFormatTail[14] = {0x00, 0x00, 0x00, 0x00, 0x10, 0x00, 0x80,
                                             0x00, 0x00, 0xAA, 0x00, 0x38, 0x9B, 0x71};

Format ReadFormat(const std::uint8_t* content, std::uint32_t size) {
  Format format{static_cast<std::uint16_t>(Little(&content[0], 2)), 0, static_cast<std::uint16_t>(Little(&content[2], 2)),
                static_cast<std::uint32_t>(Little(&content[4], 4)), static_cast<std::uint32_t>(Little(&content[8], 4)),
                static_cast<std::uint16_t>(Little(&content[12], 2)), static_cast<std::uint16_t>(Little(&content[14], 2))};
  format.sample_format = format.format_tag;
  if (format.format_tag == kFormatExtensible) {
    const bool standard = size >= 40 && std::equal(std::begin(kSubFormatTail), std::end(kSubFormatTail), &content[26]);
    format.sample_format = standard ? static_cast<std::uint16_t>(Little(&content[24], 2)) : 0;
  }
  return format;
}

}  // namespace

std::optional<RecordingInfo> ReadRecordingInfo(const std::string& path, std::string& error) {
  if (IsDirectory(path)) {
    error = "is a directory";
    return std::nullopt;
  }
  const std::unique_ptr<std::FILE, int (*)(std::FILE*)> file(std::fopen(path.c_str(), "rb"), &std::fclose);
  if (!file) {
    error = std::string("cannot open the file: ") + std::strerror(errno);
    return std::nullopt;
  }
  std::FILE* in = file.get();
  // Reads `size` bytes at `at`, all of them or nothing.
  const auto read = [in](std::uint64_t at, std::uint8_t* bytes, std::size_t size) {
    return SeekTo(in, at) && std::fread(bytes, 1, size, in) == size;
  };
  RecordingInfo info;
  const std::optional<std::uint64_t> length = LengthOf(in);
  if (!length) {
    error = "cannot read the file";
    return std::nullopt;
  }
  info.file_bytes = *length;

  std::uint8_t riff[12];
  if (!read(0, riff, sizeof riff) || !IsCode(riff, "RIFF") || !IsCode(riff + 8, "WAVE")) {
    error = "not a RIFF/WAVE file";
    return std::nullopt;
  }
  info.riff_size = static_cast<std::uint32_t>(Little(riff + 4, 4));

  bool have_format = false;
  std::uint64_t at = 12;
  while (true) {
    std::uint8_t header[8];
    if (!read(at, header, sizeof header)) {
      error = "no \"data\" chunk";
      return std::nullopt;
    }
    const auto size = static_cast<std::uint32_t>(Little(header + 4, 4));
    const std::uint64_t body = at + 8;
    if (IsCode(header, "data")) {
      info.data_offset = body;
      info.data_size_field = size;
      break;
    }
    // Checked before anything is read or allocated: a damaged size must not
    // make the reader take gigabytes.
    if (size > info.file_bytes - body) {
      error = "a chunk runs past the end of the file";
      return std::nullopt;
    }
    const bool wanted = IsCode(header, "fmt ") || IsCode(header, "rcvr");
    std::uint8_t content[kLongestReadChunk] = {};
    if (wanted && !read(body, content, std::min(size, kLongestReadChunk))) {
      error = "cannot read the file";
      return std::nullopt;
    }
    if (IsCode(header, "fmt ") && size >= 16) {
      have_format = true;
      info.format = ReadFormat(content, size);
    } else if (IsCode(header, "rcvr") && size >= 22) {
      info.receiver = ReceiverChunk{static_cast<std::int32_t>(Little(&content[0], 4)),
                                    static_cast<std::int32_t>(Little(&content[4], 4)),
                                    static_cast<std::int64_t>(Little(&content[8], 8)),
                                    static_cast<std::uint16_t>(Little(&content[16], 2)),
                                    content[18], content[19], content[20]};
    }
    at = body + size + (size & 1);  // chunks of odd size carry a pad byte
  }
  if (!have_format) {
    error = "no \"fmt \" chunk before the data";
    return std::nullopt;
  }

  const std::uint64_t in_file = info.file_bytes - info.data_offset;
  // A crash leaves sizes that agree with each other but cover less than the
  // file holds: those of the recorder's last update, or 0 from older versions.
  const bool sizes_agree = info.riff_size + 8ull == info.data_offset + info.data_size_field;
  if (info.riff_size + 8ull == info.file_bytes && info.data_size_field <= in_file) {
    info.completion = Completion::kFinished;
    info.data_bytes = info.data_size_field;
  } else if ((info.riff_size == 0 && info.data_size_field == 0) || (sizes_agree && info.data_size_field < in_file)) {
    info.completion = Completion::kUnfinished;
    info.data_bytes = in_file;
  } else {
    info.completion = Completion::kMismatched;
    info.data_bytes = std::min<std::uint64_t>(info.data_size_field, in_file);
  }
  return info;
}

}  // namespace halvorn::recording

// Reads what a recording says about itself: the "fmt " and "rcvr" chunks and
// where its sample data lies, walking the chunks as any RIFF reader does, and
// whether its two sizes were written when it was finished.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

namespace halvorn::recording {

inline constexpr std::uint16_t kFormatPcm = 1;
inline constexpr std::uint16_t kFormatFloat = 3;
inline constexpr std::uint16_t kFormatExtensible = 0xFFFE;

struct Format {
  std::uint16_t format_tag = 0;  // as written
  // What the samples are: the tag, or for WAVE_FORMAT_EXTENSIBLE the code of
  // its sub-format (0 when that is not one of the standard codes).
  std::uint16_t sample_format = 0;
  std::uint16_t channels = 0;
  std::uint32_t sample_rate_hz = 0;
  std::uint32_t byte_rate = 0;
  std::uint16_t block_align = 0;
  std::uint16_t bits_per_sample = 0;
};

struct ReceiverChunk {
  std::int32_t lo_hz = 0;
  std::int32_t sample_rate_index = 0;
  std::int64_t start_time_utc_s = 0;
  std::uint16_t attenuator_step = 0;
  std::uint8_t preselector_on = 0;
  std::uint8_t adc_preamp_on = 0;
  std::uint8_t adc_dither_on = 0;
};

enum class Completion {
  kFinished,    // both sizes agree with the file's length (chunks may follow the data)
  kUnfinished,  // sizes that cover less than the file holds (0, or a last update's): never stopped
  kMismatched,  // sizes set, but the file is longer or shorter than they say
};

struct RecordingInfo {
  std::uint64_t file_bytes = 0;
  std::uint32_t riff_size = 0;
  Format format;
  std::optional<ReceiverChunk> receiver;
  std::uint64_t data_offset = 0;     // first sample byte
  std::uint32_t data_size_field = 0;
  std::uint64_t data_bytes = 0;      // sample bytes actually in the file
  Completion completion = Completion::kFinished;

  // Whole frames in the file, and the bytes of a torn frame at its end.
  std::uint64_t frames() const { return format.block_align ? data_bytes / format.block_align : 0; }
  std::uint64_t torn_bytes() const { return format.block_align ? data_bytes % format.block_align : 0; }
  double duration_s() const {
    return format.sample_rate_hz ? static_cast<double>(frames()) / format.sample_rate_hz : 0.0;
  }
};

// Null, with the reason in `error`, when the file is not a recording.
std::optional<RecordingInfo> ReadRecordingInfo(const std::string& path, std::string& error);

}  // namespace halvorn::recording

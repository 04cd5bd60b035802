#include "tools/recording/sample_reader.h"

#include <algorithm>

namespace halvorn::recording {
namespace {

constexpr std::size_t kPairsPerRead = 16384;

std::int32_t Component24(const std::uint8_t* bytes) {
  const auto raw = static_cast<std::uint32_t>(bytes[0] | bytes[1] << 8 | bytes[2] << 16);
  return static_cast<std::int32_t>(raw << 8) >> 8;  // sign from bit 23
}

std::int32_t Component16(const std::uint8_t* bytes) { return static_cast<std::int16_t>(bytes[0] | bytes[1] << 8); }

}  // namespace

std::optional<std::string> UnreadablePairs(const Format& format) {
  if (format.format_tag != 1) return "its samples are not PCM";
  if (format.channels != 2) return "it has " + std::to_string(format.channels) + " channels, not the two of I/Q pairs";
  if (format.bits_per_sample != 16 && format.bits_per_sample != 24) {
    return "its samples have " + std::to_string(format.bits_per_sample) + " bits, neither 16 nor 24";
  }
  if (format.block_align != format.bits_per_sample / 8 * 2) return "its frame size does not match its sample size";
  if (format.sample_rate_hz == 0) return "its sample rate is 0";
  return std::nullopt;
}

double FullScale(int bits_per_sample) { return bits_per_sample == 16 ? 32767.0 : 8388607.0; }

std::unique_ptr<SampleReader> SampleReader::Open(const std::string& path, const RecordingInfo& info,
                                                 std::string& error) {
  if (auto why = UnreadablePairs(info.format)) {
    error = *why;
    return nullptr;
  }
  std::FILE* file = std::fopen(path.c_str(), "rb");
  if (file == nullptr || fseeko(file, static_cast<off_t>(info.data_offset), SEEK_SET) != 0) {
    if (file != nullptr) std::fclose(file);
    error = "cannot open the file";
    return nullptr;
  }
  return std::unique_ptr<SampleReader>(new SampleReader(file, info.format.bits_per_sample, info.frames()));
}

SampleReader::SampleReader(std::FILE* file, int bits_per_sample, std::uint64_t pairs)
    : file_(file),
      bytes_per_component_(bits_per_sample / 8),
      scale_(1.0 / FullScale(bits_per_sample)),
      pairs_left_(pairs),
      bytes_(kPairsPerRead * 2 * static_cast<std::size_t>(bits_per_sample / 8)) {}

SampleReader::~SampleReader() { std::fclose(file_); }

std::size_t SampleReader::Read(std::complex<double>* out, std::size_t count) {
  const std::size_t pair_bytes = 2 * static_cast<std::size_t>(bytes_per_component_);
  std::size_t done = 0;
  while (done < count && pairs_left_ > 0 && !failed_) {
    const std::size_t want = static_cast<std::size_t>(std::min<std::uint64_t>({count - done, kPairsPerRead, pairs_left_}));
    const std::size_t got = std::fread(bytes_.data(), pair_bytes, want, file_);
    const std::uint8_t* pair = bytes_.data();
    for (std::size_t i = 0; i < got; ++i, pair += pair_bytes) {
      const std::int32_t first = bytes_per_component_ == 3 ? Component24(pair) : Component16(pair);
      const std::int32_t second =
          bytes_per_component_ == 3 ? Component24(pair + 3) : Component16(pair + 2);
      out[done + i] = {first * scale_, second * scale_};
    }
    done += got;
    pairs_left_ -= got;
    // The data was measured when the file was opened: it cannot run short
    // unless the file shrank or the disk failed.
    if (got < want) failed_ = true;
  }
  return done;
}

}  // namespace halvorn::recording

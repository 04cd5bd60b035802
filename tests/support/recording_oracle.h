// Reads a recording back and holds it against the counting pattern, written
// apart from the recorder's code: the header's fields at their places, the
// layout a finished file of its row must have, and a follower that takes the
// stored blocks one by one across the files of a recording.
#pragma once

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

namespace halvorn::testing {

inline constexpr std::size_t kRecordingHeaderBytes = 90;

// A recording's bytes, or only its header when the file is read in pieces,
// with the header's fields read at their places.
struct StoredRecording {
  StoredRecording(std::string file_name, std::vector<std::uint8_t> file)
      : name(std::move(file_name)), bytes(std::move(file)), file_bytes(bytes.size()) {}
  // Only the header of a file of `length` bytes.
  static StoredRecording Header(std::string file_name, std::vector<std::uint8_t> header, std::uint64_t length) {
    StoredRecording recording(std::move(file_name), std::move(header));
    recording.file_bytes = length;
    return recording;
  }

  std::string name;
  std::vector<std::uint8_t> bytes;
  // The whole file's length.
  std::uint64_t file_bytes;

  std::uint16_t U16(std::size_t at) const { return static_cast<std::uint16_t>(bytes[at] | bytes[at + 1] << 8); }
  std::uint32_t U32(std::size_t at) const {
    return static_cast<std::uint32_t>(U16(at)) | static_cast<std::uint32_t>(U16(at + 2)) << 16;
  }
  std::int64_t I64(std::size_t at) const {
    const std::uint64_t low = U32(at);
    const std::uint64_t high = U32(at + 4);
    return static_cast<std::int64_t>(low | high << 32);
  }
  std::string Code(std::size_t at) const { return std::string(bytes.begin() + at, bytes.begin() + at + 4); }

  std::uint32_t riff_size() const { return U32(4); }
  std::uint16_t channels() const { return U16(22); }
  std::uint32_t sample_rate() const { return U32(24); }
  std::uint32_t byte_rate() const { return U32(28); }
  std::uint16_t block_align() const { return U16(32); }
  std::uint16_t bits_per_sample() const { return U16(34); }
  std::int32_t lo_hz() const { return static_cast<std::int32_t>(U32(44)); }
  std::int32_t row() const { return static_cast<std::int32_t>(U32(48)); }
  std::int64_t start_time_utc_s() const { return I64(52); }
  std::uint16_t attenuator_step() const { return U16(60); }
  bool preselector_on() const { return bytes[62] != 0; }
  bool adc_preamp_on() const { return bytes[63] != 0; }
  bool adc_dither_on() const { return bytes[64] != 0; }
  std::uint32_t data_size() const { return U32(86); }

  const std::uint8_t* data() const { return bytes.data() + kRecordingHeaderBytes; }
  std::uint64_t data_bytes() const { return file_bytes - kRecordingHeaderBytes; }
};

// The file at `path`; nothing when it is missing or shorter than a header.
std::optional<StoredRecording> LoadRecording(const std::string& path, const std::string& name);

// The names of the recordings (*.wav) in `directory`.
std::vector<std::string> RecordingFilesIn(const std::string& directory);
// `names` in the order they were made: by the start time in their headers,
// then by length of name, a second file of the same second being " (2)".
std::vector<std::string> InOrderOfMaking(const std::string& directory, std::vector<std::string> names);

// What keeps the recording from being a finished file in its row's format:
// the chunks a WAV reader walks, both sizes telling its true length, the
// format of its row. Empty when nothing does.
std::string LayoutProblem(const StoredRecording& recording);

// Follows the stored blocks of a recording, file after file in the order they
// were made, as the stored form of the counting pattern: each block follows
// the one before it, starts a new stream at pair 0, or skips whole blocks
// forward (blocks the ring dropped).
class StoredCountingFollower {
 public:
  // The next file, recorded at `row`.
  void BeginFile(int row);
  // The stored pairs of the next block, fewer than a block's only where a
  // recording was cut short. Empty when they follow; otherwise what is wrong.
  std::string Follow(const std::uint8_t* stored, std::size_t pairs);

  std::uint64_t blocks() const { return blocks_; }
  std::uint64_t pairs() const { return pairs_; }
  std::uint64_t skipped_pairs() const { return skipped_pairs_; }
  // Blocks that started a stream again at pair 0 after the first.
  std::uint64_t restarts() const { return restarts_; }
  std::uint64_t first_pair() const { return first_pair_.value_or(0); }

 private:
  int row_ = 0;
  std::optional<std::uint64_t> first_pair_;
  std::optional<std::uint64_t> next_pair_;
  std::uint64_t blocks_ = 0;
  std::uint64_t pairs_ = 0;
  std::uint64_t skipped_pairs_ = 0;
  std::uint64_t restarts_ = 0;
  std::vector<std::uint8_t> expected_;
};

}  // namespace halvorn::testing

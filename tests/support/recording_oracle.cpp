#include "tests/support/recording_oracle.h"

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <iterator>

#include "tests/support/stored_form.h"

namespace halvorn::testing {

std::optional<StoredRecording> LoadRecording(const std::string& path, const std::string& name) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return std::nullopt;
  StoredRecording recording(name, {std::istreambuf_iterator<char>(in), std::istreambuf_iterator<char>()});
  if (recording.file_bytes < kRecordingHeaderBytes) return std::nullopt;
  return recording;
}

std::vector<std::string> RecordingFilesIn(const std::string& directory) {
  std::vector<std::string> names;
  std::error_code error;
  for (const auto& entry : std::filesystem::directory_iterator(directory, error)) {
    if (entry.is_regular_file() && entry.path().extension() == ".wav")
      names.push_back(entry.path().filename().string());
  }
  std::sort(names.begin(), names.end());
  return names;
}

std::vector<std::string> InOrderOfMaking(const std::string& directory, std::vector<std::string> names) {
  struct Made {
    std::int64_t start = 0;
    std::string name;
  };
  std::vector<Made> made;
  for (std::string& name : names) {
    std::ifstream in(std::filesystem::path(directory) / name, std::ios::binary);
    StoredRecording header(name, std::vector<std::uint8_t>(kRecordingHeaderBytes));
    in.read(reinterpret_cast<char*>(header.bytes.data()), static_cast<std::streamsize>(header.bytes.size()));
    made.push_back({header.start_time_utc_s(), std::move(name)});
  }
  std::sort(made.begin(), made.end(), [](const Made& a, const Made& b) {
    if (a.start != b.start) return a.start < b.start;
    if (a.name.size() != b.name.size()) return a.name.size() < b.name.size();
    return a.name < b.name;
  });
  std::vector<std::string> ordered;
  for (Made& file : made) ordered.push_back(std::move(file.name));
  return ordered;
}

std::string LayoutProblem(const StoredRecording& recording) {
  const std::uint64_t length = recording.file_bytes;
  const std::string& name = recording.name;
  if (length < kRecordingHeaderBytes || recording.bytes.size() < kRecordingHeaderBytes) {
    return name + ": " + std::to_string(length) + " bytes, no header";
  }
  if (recording.Code(0) != "RIFF" || recording.Code(8) != "WAVE" || recording.Code(12) != "fmt " ||
      recording.U32(16) != 16 || recording.Code(36) != "rcvr" || recording.U32(40) != 38 ||
      recording.Code(82) != "data" || recording.bytes[65] != 1) {
    return name + ": not the recording layout";
  }
  if (recording.riff_size() != length - 8 || recording.data_size() != length - kRecordingHeaderBytes) {
    return name + ": RIFF size " + std::to_string(recording.riff_size()) + " and data size " +
           std::to_string(recording.data_size()) + " for a file of " + std::to_string(length) + " bytes";
  }
  const int row = recording.row();
  if (row < 0 || row >= receiver::kSampleRateCount) return name + ": row " + std::to_string(row);
  const auto rate_hz = static_cast<std::uint32_t>(receiver::kSampleRateTable[static_cast<std::size_t>(row)].rate_hz);
  const auto pair_bytes = static_cast<std::uint32_t>(StoredPairBytes(row));
  if (recording.U16(20) != 1 || recording.channels() != 2 || recording.sample_rate() != rate_hz ||
      recording.bits_per_sample() != StoredBits(row) || recording.block_align() != pair_bytes ||
      recording.byte_rate() != rate_hz * pair_bytes) {
    return name + ": format " + std::to_string(recording.U16(20)) + ", " + std::to_string(recording.channels()) +
           " channels, " + std::to_string(recording.sample_rate()) + " Hz, " +
           std::to_string(recording.bits_per_sample()) + " bits, align " + std::to_string(recording.block_align()) +
           " does not fit row " + std::to_string(row);
  }
  return {};
}

void StoredCountingFollower::BeginFile(int row) {
  row_ = row;
  expected_.resize(StoredBlockBytes(row));
}

std::string StoredCountingFollower::Follow(const std::uint8_t* stored, std::size_t pairs) {
  const bool sixteen_bits = StoredBits(row_) == 16;
  // At 16 bits a stored pair names its counting index only modulo 2^24; a
  // block's first pair has no low byte to round away.
  const std::uint64_t modulus = std::uint64_t{1} << (sixteen_bits ? 24 : 48);
  std::uint64_t key;
  if (sixteen_bits) {
    const auto first = static_cast<std::int16_t>(stored[0] | stored[1] << 8);
    key = static_cast<std::uint32_t>(static_cast<std::int32_t>(first) * 256) & 0xFFFFFFu;
  } else {
    key = simulator::ReadCountingPair(stored);
  }
  std::uint64_t k = key;
  if (next_pair_) {
    const std::uint64_t expected_key = *next_pair_ % modulus;
    if (key == expected_key) {
      k = *next_pair_;
    } else if (key == 0) {
      ++restarts_;
    } else {
      const std::uint64_t skipped = (key + modulus - expected_key) % modulus;
      // Half the range forward is taken for a step back: no stream here
      // drops millions of pairs at once.
      if (skipped >= modulus / 2) {
        return "a block starts at pair " + std::to_string(key) + ", repeated or out of order after pair " +
               std::to_string(*next_pair_);
      }
      if (skipped % kBlockPairs != 0) {
        return "a block starts at pair " + std::to_string(key) + ", not on a block boundary after pair " +
               std::to_string(*next_pair_);
      }
      skipped_pairs_ += skipped;
      k = *next_pair_ + skipped;
    }
  }
  const auto pair_bytes = static_cast<std::size_t>(StoredPairBytes(row_));
  for (std::size_t pair = 0; pair < pairs; ++pair)
    StoreCountingPair(k + pair, row_, expected_.data() + pair * pair_bytes);
  if (!std::equal(expected_.begin(), expected_.begin() + static_cast<std::ptrdiff_t>(pairs * pair_bytes), stored)) {
    return "a block is not the stored form of the counting pairs from " + std::to_string(k);
  }
  if (!first_pair_) first_pair_ = k;
  next_pair_ = k + kBlockPairs;
  pairs_ += pairs;
  if (pairs == kBlockPairs) ++blocks_;
  return {};
}

}  // namespace halvorn::testing

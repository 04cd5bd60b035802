// Reads a recording's sample pairs from the start of its data, a piece at a
// time. Only the whole pairs the file holds as data are read: a torn pair at
// the end, and chunks after the data, are left out, and an unfinished
// recording is read to its length.
//
// One implementation per build: through libsndfile natively, by the tools'
// own decoder (RawPairReader) in the Windows build, which has no libsndfile.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>
#include <string>

#include "tools/recording/recording_info.h"

namespace halvorn::recording {

class PairReader {
 public:
  explicit PairReader(std::uint64_t pairs) : pairs_left_(pairs) {}
  virtual ~PairReader() = default;
  PairReader(const PairReader&) = delete;
  PairReader& operator=(const PairReader&) = delete;

  // Up to `pairs` pairs into `components` (I, Q, I, Q...), relative to full
  // scale: a 24-bit component of 2^23 would read 1.0. Fewer only at the end
  // of the data or when the file cannot be read (then failed()).
  std::size_t ReadFloat(float* components, std::size_t pairs);
  // The same as 16-bit integers, exactly as written; for Encoding::kInt16 only.
  std::size_t ReadShort(std::int16_t* components, std::size_t pairs);

  std::uint64_t pairs_left() const { return pairs_left_; }
  bool failed() const { return failed_; }

 private:
  virtual std::size_t FillFloat(float* components, std::size_t pairs) = 0;
  virtual std::size_t FillShort(std::int16_t* components, std::size_t pairs) = 0;
  std::size_t Wanted(std::size_t pairs) const;
  std::size_t Count(std::size_t wanted, std::size_t got);

  std::uint64_t pairs_left_;
  bool failed_ = false;
};

// Null, with the reason in `error`, when the file cannot be opened or holds
// no pairs the tools read (UnreadablePairs).
std::unique_ptr<PairReader> OpenPairReader(const std::string& path, const RecordingInfo& info, std::string& error);

}  // namespace halvorn::recording

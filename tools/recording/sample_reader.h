// Reads a recording's sample pairs from the start of its data, a piece at a
// time, as complex values relative to full scale: a component of 8388607
// (24-bit) or 32767 (16-bit) reads 1.0. Only the bytes the file holds as data
// are read, and a torn pair at the end is left out.
#pragma once

#include <complex>
#include <cstdint>
#include <cstdio>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "tools/recording/recording_info.h"

namespace halvorn::recording {

// Empty when the format holds I/Q pairs the reader understands (PCM, two
// channels, 16 or 24 bits); otherwise why not.
std::optional<std::string> UnreadablePairs(const Format& format);

double FullScale(int bits_per_sample);

class SampleReader {
 public:
  // Null, with the reason in `error`, when the file cannot be opened or its
  // format is not one of pairs.
  static std::unique_ptr<SampleReader> Open(const std::string& path, const RecordingInfo& info, std::string& error);
  ~SampleReader();
  SampleReader(const SampleReader&) = delete;
  SampleReader& operator=(const SampleReader&) = delete;

  // Fills `out` with up to `count` pairs; fewer only at the end of the data or
  // on a read error (then failed() is true).
  std::size_t Read(std::complex<double>* out, std::size_t count);

  std::uint64_t pairs_left() const { return pairs_left_; }
  bool failed() const { return failed_; }

 private:
  SampleReader(std::FILE* file, int bits_per_sample, std::uint64_t pairs);

  std::FILE* file_;
  const int bytes_per_component_;
  const double scale_;
  std::uint64_t pairs_left_;
  bool failed_ = false;
  std::vector<std::uint8_t> bytes_;
};

}  // namespace halvorn::recording

// The tools' own decoder of sample pairs, for the build without libsndfile
// (Windows): reads the encodings of pair_encoding.h straight from the data
// the chunk walker found, and gives the values libsndfile gives.
#pragma once

#include <cstdint>
#include <cstdio>
#include <memory>
#include <string>
#include <vector>

#include "tools/recording/pair_encoding.h"
#include "tools/recording/pair_reader.h"

namespace halvorn::recording {

class RawPairReader : public PairReader {
 public:
  static std::unique_ptr<PairReader> Open(const std::string& path, const RecordingInfo& info, std::string& error);

 private:
  RawPairReader(std::FILE* file, Encoding encoding, std::uint64_t pairs);
  ~RawPairReader() override;
  std::size_t FillFloat(float* components, std::size_t pairs) override;
  std::size_t FillShort(std::int16_t* components, std::size_t pairs) override;
  // Reads up to `pairs` whole pairs into bytes_; how many it read.
  std::size_t ReadBytes(std::size_t pairs);

  std::FILE* file_;
  const Encoding encoding_;
  const std::size_t pair_bytes_;
  std::vector<unsigned char> bytes_;
};

}  // namespace halvorn::recording

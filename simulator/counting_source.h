// The counting pattern as a sample source: pair k of the stream carries k.
#pragma once

#include <cstring>

#include "simulator/counting_pattern.h"
#include "simulator/sample_source.h"

namespace halvorn::simulator {

class CountingSource final : public SampleSource {
 public:
  void Configure(const FrontEnd&) override {}
  void Generate(std::uint8_t* pairs, std::size_t pair_count) override {
    if (pair_count == 0) return;
    // Eight-byte little-endian stores, each next pair overwriting the two
    // bytes the last one wrote past its end: unpaced streams are meant to
    // measure the plug-in, not this loop.
    for (std::size_t i = 0; i + 1 < pair_count; ++i) {
      std::uint8_t bytes[8];
      const std::uint64_t k = next_pair_++;
      for (int byte = 0; byte < 8; ++byte) bytes[byte] = static_cast<std::uint8_t>(k >> (8 * byte));
      std::memcpy(pairs + i * kPairBytes, bytes, sizeof bytes);
    }
    WriteCountingPair(next_pair_++, pairs + (pair_count - 1) * kPairBytes);
  }

 private:
  std::uint64_t next_pair_ = 0;
};

}  // namespace halvorn::simulator

// The counting pattern as a sample source: pair k of the stream carries k.
#pragma once

#include "simulator/counting_pattern.h"
#include "simulator/sample_source.h"

namespace halvorn::simulator {

class CountingSource final : public SampleSource {
 public:
  void Configure(const FrontEnd&) override {}
  void Generate(std::uint8_t* pairs, std::size_t pair_count) override {
    for (std::size_t i = 0; i < pair_count; ++i) WriteCountingPair(next_pair_++, pairs + i * kPairBytes);
  }

 private:
  std::uint64_t next_pair_ = 0;
};

}  // namespace halvorn::simulator

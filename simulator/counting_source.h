// The counting pattern as sample sources: pair k of the stream carries k, in
// every pair or only at the first pair of each of the plug-in's blocks.
#pragma once

#include <bit>
#include <cstring>

#include "simulator/counting_pattern.h"
#include "simulator/sample_source.h"

namespace halvorn::simulator {

class CountingSource final : public SampleSource {
 public:
  void Configure(const FrontEnd&) override {}
  void Generate(std::uint8_t* pairs, std::size_t pair_count) override {
    if (pair_count == 0) return;
    // Eight-byte little-endian stores of a local counter, each next pair
    // overwriting the two bytes the last one wrote past its end: unpaced
    // streams are meant to measure the plug-in, not this loop (byte-wise
    // stores through the output pointer ran twenty times slower).
    static_assert(std::endian::native == std::endian::little);
    std::uint64_t k = next_pair_;
    for (std::size_t i = 0; i + 1 < pair_count; ++i, ++k) std::memcpy(pairs + i * kPairBytes, &k, sizeof k);
    WriteCountingPair(k, pairs + (pair_count - 1) * kPairBytes);
    next_pair_ = k + 1;
  }

 private:
  std::uint64_t next_pair_ = 0;
};

// Pair k carries k when k is a multiple of kBlockPairs, and zero otherwise:
// enough for a host to see every lost or reordered block, at a cost per pair
// next to nothing, so that unpaced streams measure the plug-in alone. Called
// again for the same place at the same phase of the blocks (every transfer
// of whole blocks), only the block starts are rewritten: the zeros between
// are still there, the library's callback reading the transfer but never
// writing it.
class BlockCountingSource final : public SampleSource {
 public:
  static constexpr std::uint64_t kBlockPairs = 1024;

  void Configure(const FrontEnd&) override {}
  void Generate(std::uint8_t* pairs, std::size_t pair_count) override {
    const Place place{pairs, pair_count, next_pair_ % kBlockPairs};
    if (!(place == zeroed_)) {
      std::memset(pairs, 0, pair_count * kPairBytes);
      zeroed_ = place;
    }
    const std::uint64_t end = next_pair_ + pair_count;
    for (std::uint64_t k = (next_pair_ + kBlockPairs - 1) / kBlockPairs * kBlockPairs; k < end; k += kBlockPairs) {
      WriteCountingPair(k, pairs + (k - next_pair_) * kPairBytes);
    }
    next_pair_ = end;
  }

 private:
  struct Place {
    std::uint8_t* pairs = nullptr;
    std::size_t pair_count = 0;
    std::uint64_t phase = 0;
    bool operator==(const Place&) const = default;
  };

  std::uint64_t next_pair_ = 0;
  Place zeroed_;
};

}  // namespace halvorn::simulator

// Where the delivery thread hands every block after the host has had it.
#pragma once

#include <cstdint>

namespace halvorn::streaming {

class BlockSink {
 public:
  virtual ~BlockSink() = default;
  // `pair_count` 24-bit I/Q pairs (6 bytes each), at most 1024.
  virtual void WriteBlock(const std::uint8_t* data, std::int32_t pair_count) = 0;
  // Whole blocks the ring had to drop right before the next block: it does
  // not follow the last one.
  virtual void BlocksLost(std::uint64_t blocks) = 0;
};

}  // namespace halvorn::streaming

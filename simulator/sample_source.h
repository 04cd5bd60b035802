// What the receiver's input thread sends: a stream of 24-bit I/Q pairs, six
// bytes each (I then Q, little-endian two's complement).
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "simulator/counting_pattern.h"
#include "simulator/front_end.h"
#include "simulator/settings.h"

namespace halvorn::simulator {

class SampleSource {
 public:
  virtual ~SampleSource() = default;
  // The settings in force for the pairs generated from now on.
  virtual void Configure(const FrontEnd& front_end) = 0;
  // Writes the next `pair_count` pairs of the stream.
  virtual void Generate(std::uint8_t* pairs, std::size_t pair_count) = 0;
};

std::unique_ptr<SampleSource> MakeSampleSource(SourceKind kind);

}  // namespace halvorn::simulator

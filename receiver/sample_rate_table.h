// The nine output sample rates the receiver offers. Each has an FPGA bitstream
// of its own; the row index is the sample-rate index used everywhere.
#pragma once

#include <array>
#include <cstdint>

#include "ports/sample_block.h"

namespace halvorn::receiver {

inline constexpr int kSampleRateCount = 9;
inline constexpr int kDescriptorBytes = 8;
// The one row recorded with 16-bit samples.
inline constexpr int kTwoMegaSampleIndex = 4;

struct SampleRateRow {
  const char* bitstream_name;
  const std::uint8_t* descriptor;  // kDescriptorBytes, last two 0
  std::int32_t rate_hz;
  std::int32_t packets_per_transfer;
  // What the DDC's filter passes, as the panel's caption gives it ("BW=").
  std::int32_t usable_bandwidth_hz;

  constexpr std::int32_t bytes_per_transfer() const { return packets_per_transfer * kBlockBytes; }
};

// The descriptor records, one after another in row order. Bytes 0-1: ADC
// clock divider (little-endian), 2: bitstream generation, 3: packets per
// transfer, 4: row, 5: bits per component, 6-7: 0.
extern const std::uint8_t kDescriptorRecords[kSampleRateCount][kDescriptorBytes];

extern const std::array<SampleRateRow, kSampleRateCount> kSampleRateTable;

// Index checked against the table: an out-of-range index falls back to row 0.
const SampleRateRow& SampleRateRowAt(int index);

}  // namespace halvorn::receiver

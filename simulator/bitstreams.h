// The receiver's side of the nine FPGA bitstreams: what each one is and the
// 8-byte descriptor that must accompany its name. Kept here, apart from the
// plug-in's own table, because the device is the authority on its files.
#pragma once

#include <array>
#include <cstdint>

namespace halvorn::simulator {

inline constexpr std::int32_t kNominalClockHz = 80000000;
inline constexpr int kBitstreamCount = 9;
inline constexpr int kDescriptorBytes = 8;
inline constexpr int kPacketBytes = 6144;  // 1024 pairs of 6 bytes
inline constexpr std::uint8_t kComponentBits = 24;

struct Bitstream {
  const char* name;
  std::uint16_t clock_divider;  // output rate = ADC clock / divider
  std::uint8_t generation;      // 21 or 31, as in the name
  std::uint8_t packets_per_transfer;

  // The rate with the nominal clock, to the nearest hertz.
  constexpr std::int32_t nominal_rate_hz() const {
    return (kNominalClockHz + clock_divider / 2) / clock_divider;
  }
};

extern const std::array<Bitstream, kBitstreamCount> kBitstreams;

// The row of the bitstream called exactly `name`, or -1. Reads at most one
// character past the longest known name.
int FindBitstream(const char* name);

// Bytes 0-1 the divider (little-endian), 2 the generation, 3 packets per
// transfer, 4 the row, 5 the bits per component, 6-7 zero.
std::array<std::uint8_t, kDescriptorBytes> DescriptorOf(int row);

bool DescriptorMatches(int row, const std::uint8_t* descriptor);

}  // namespace halvorn::simulator

#include "simulator/bitstreams.h"

#include <cstring>

namespace halvorn::simulator {

const std::array<Bitstream, kBitstreamCount> kBitstreams = {{
    {"halvorn125k24v21", 640, 21, 1},
    {"halvorn250k24v21", 320, 21, 2},
    {"halvorn500k24v21", 160, 21, 4},
    {"halvorn1m24v21", 80, 21, 8},
    {"halvorn2m24v21", 40, 21, 16},
    {"halvorn95k24v31", 840, 31, 1},
    {"halvorn48k24v31", 1664, 31, 1},
    {"halvorn96k24v31", 832, 31, 1},
    {"halvorn192k24v31", 416, 31, 2},
}};

int FindBitstream(const char* name) {
  if (name == nullptr) return -1;
  for (int row = 0; row < kBitstreamCount; ++row) {
    const char* known = kBitstreams[row].name;
    // strncmp stops at the first difference, so an unterminated or short
    // name is never read past the known name's terminator.
    if (std::strncmp(name, known, std::strlen(known) + 1) == 0) return row;
  }
  return -1;
}

std::array<std::uint8_t, kDescriptorBytes> DescriptorOf(int row) {
  const Bitstream& bitstream = kBitstreams[row];
  return {static_cast<std::uint8_t>(bitstream.clock_divider & 0xFF),
          static_cast<std::uint8_t>(bitstream.clock_divider >> 8),
          bitstream.generation,
          bitstream.packets_per_transfer,
          static_cast<std::uint8_t>(row),
          kComponentBits,
          0,
          0};
}

bool DescriptorMatches(int row, const std::uint8_t* descriptor) {
  if (descriptor == nullptr) return false;
  const auto expected = DescriptorOf(row);
  return std::memcmp(expected.data(), descriptor, expected.size()) == 0;
}

}  // namespace halvorn::simulator

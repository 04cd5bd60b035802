// What the receiver makes of the 5-byte control record Sio hands it: a flags
// byte and the DDC's NCO word, little-endian.
#pragma once

#include <cstdint>

namespace halvorn::simulator {

inline constexpr int kControlRecordBytes = 5;
inline constexpr std::uint8_t kStreamingFlag = 0x01;
inline constexpr std::uint8_t kDitherFlag = 0x02;
inline constexpr std::uint8_t kPreampFlag = 0x04;

struct ControlRecordFields {
  std::uint8_t flags;
  std::uint32_t nco_word;

  bool streaming() const { return (flags & kStreamingFlag) != 0; }
  bool dither() const { return (flags & kDitherFlag) != 0; }
  bool preamp() const { return (flags & kPreampFlag) != 0; }
};

ControlRecordFields DecodeControlRecord(const std::uint8_t* record);

// The frequency the NCO mixes to zero. The word is a phase step modulo one
// turn, so it names a frequency modulo the clock; like the DDC's complex
// mixer we read it in [-clock/2, clock/2): a word of 2^31 or more is a
// negative frequency (0xFFFF2E49 at 80 MHz is -1000 Hz).
double NcoFrequencyHz(std::uint32_t nco_word, double clock_hz);

}  // namespace halvorn::simulator

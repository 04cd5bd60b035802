// The 5-byte control record the receiver takes through Sio: a flags byte and
// the NCO tuning word, little-endian, with no gap.
#pragma once

#include <array>
#include <cstdint>

namespace halvorn::receiver {

inline constexpr std::uint8_t kFlagStreaming = 0x01;
inline constexpr std::uint8_t kFlagAdcDither = 0x02;
inline constexpr std::uint8_t kFlagAdcPreamp = 0x04;
inline constexpr int kControlRecordBytes = 5;

struct ControlRecord {
  std::uint8_t flags = 0;
  std::uint32_t nco_word = 0;

  void SetFlag(std::uint8_t flag, bool on) {
    flags = static_cast<std::uint8_t>(on ? (flags | flag) : (flags & ~flag));
  }
  bool operator==(const ControlRecord&) const = default;
};

std::array<std::uint8_t, kControlRecordBytes> EncodeControlRecord(const ControlRecord& record);
ControlRecord DecodeControlRecord(const std::uint8_t* bytes);

}  // namespace halvorn::receiver

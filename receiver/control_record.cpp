#include "receiver/control_record.h"

namespace halvorn::receiver {

std::array<std::uint8_t, kControlRecordBytes> EncodeControlRecord(const ControlRecord& record) {
  const std::uint32_t word = record.nco_word;
  return {record.flags, static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
          static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 24)};
}

ControlRecord DecodeControlRecord(const std::uint8_t* bytes) {
  return {bytes[0], static_cast<std::uint32_t>(bytes[1]) | static_cast<std::uint32_t>(bytes[2]) << 8 |
                        static_cast<std::uint32_t>(bytes[3]) << 16 |
                        static_cast<std::uint32_t>(bytes[4]) << 24};
}

}  // namespace halvorn::receiver

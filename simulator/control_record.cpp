#include "simulator/control_record.h"

namespace halvorn::simulator {

ControlRecordFields DecodeControlRecord(const std::uint8_t* record) {
  const std::uint32_t word = static_cast<std::uint32_t>(record[1]) |
                             static_cast<std::uint32_t>(record[2]) << 8 |
                             static_cast<std::uint32_t>(record[3]) << 16 |
                             static_cast<std::uint32_t>(record[4]) << 24;
  return {record[0], word};
}

double NcoFrequencyHz(std::uint32_t nco_word, double clock_hz) {
  const auto signed_word = static_cast<std::int32_t>(nco_word);
  return static_cast<double>(signed_word) * clock_hz / 4294967296.0;
}

}  // namespace halvorn::simulator

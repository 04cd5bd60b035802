// The 90-byte header of a recording: a PCM "fmt " chunk a WAV reader
// understands, the receiver chunk "rcvr" with the settings in force when the
// file was started, and the "data" chunk header. Both size fields are 0 until
// the file is finished.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

#include "receiver/receiver_state.h"

namespace halvorn::recorder {

inline constexpr std::size_t kHeaderBytes = 90;
inline constexpr std::uint64_t kRiffSizeOffset = 4;
inline constexpr std::uint64_t kDataSizeOffset = 86;
// The RIFF size counts everything after its own field: the header less 8.
inline constexpr std::uint32_t kRiffSizeOverData = kHeaderBytes - 8;
// The most sample data a file can describe: the RIFF size must fit 32 bits.
inline constexpr std::uint32_t kMaxDataBytes = 0xFFFFFFFFu - kRiffSizeOverData;

// Bytes one stored pair takes: 4 at the 2 MS/s row (16-bit), else 6 (24-bit).
int StoredPairBytes(int sample_rate_index);

std::array<std::uint8_t, kHeaderBytes> EncodeWavHeader(const receiver::ReceiverSettings& settings,
                                                       std::int64_t start_time_utc_s);

// A little-endian size field as finishing writes it.
std::array<std::uint8_t, 4> EncodeSizeField(std::uint32_t value);

constexpr std::uint32_t RiffSizeFor(std::uint32_t data_bytes) { return data_bytes + kRiffSizeOverData; }

}  // namespace halvorn::recorder

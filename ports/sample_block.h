// The unit in which samples travel: one block of 1024 I/Q pairs, each two
// 24-bit little-endian components, as the receiver delivers them. The ring's
// slots, the host's callback and the recorder all work in whole blocks.
#pragma once

#include <cstdint>

namespace halvorn {

inline constexpr std::int32_t kBlockPairs = 1024;
inline constexpr std::int32_t kPairBytes = 6;
inline constexpr std::int32_t kBlockBytes = kBlockPairs * kPairBytes;

}  // namespace halvorn

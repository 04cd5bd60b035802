// The 54-byte header of an uncompressed 24-bit BMP file, rows stored bottom
// up, each padded to a multiple of four bytes.
#pragma once

#include <array>
#include <cstddef>
#include <cstdint>

namespace halvorn::host {

inline constexpr std::size_t kBmpHeaderBytes = 54;

// Bytes of one stored row of `width` pixels.
constexpr std::uint32_t BmpRowBytes(std::uint32_t width) { return (width * 3 + 3) / 4 * 4; }

std::array<std::uint8_t, kBmpHeaderBytes> EncodeBmpHeader(std::uint32_t width, std::uint32_t height);

}  // namespace halvorn::host

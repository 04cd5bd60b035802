#include "host/bmp_header.h"

namespace halvorn::host {
namespace {

void Put16(std::uint8_t* at, std::uint32_t value) {
  at[0] = static_cast<std::uint8_t>(value);
  at[1] = static_cast<std::uint8_t>(value >> 8);
}

void Put32(std::uint8_t* at, std::uint32_t value) {
  Put16(at, value);
  Put16(at + 2, value >> 16);
}

}  // namespace

std::array<std::uint8_t, kBmpHeaderBytes> EncodeBmpHeader(std::uint32_t width, std::uint32_t height) {
  std::array<std::uint8_t, kBmpHeaderBytes> header{};
  const std::uint32_t pixel_bytes = BmpRowBytes(width) * height;
  // File header: "BM", file size, two reserved words, offset of the pixels.
  header[0] = 'B';
  header[1] = 'M';
  Put32(&header[2], static_cast<std::uint32_t>(kBmpHeaderBytes) + pixel_bytes);
  Put32(&header[10], static_cast<std::uint32_t>(kBmpHeaderBytes));
  // Info header: its size, width, height (positive: bottom up), one plane,
  // 24 bits a pixel, no compression, pixel bytes, 2835 pixels a metre (72 dpi).
  Put32(&header[14], 40);
  Put32(&header[18], width);
  Put32(&header[22], height);
  Put16(&header[26], 1);
  Put16(&header[28], 24);
  Put32(&header[30], 0);
  Put32(&header[34], pixel_bytes);
  Put32(&header[38], 2835);
  Put32(&header[42], 2835);
  return header;
}

}  // namespace halvorn::host

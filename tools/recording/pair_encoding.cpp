#include "tools/recording/pair_encoding.h"

#include <cstdio>

namespace halvorn::recording {

std::optional<std::string> UnreadablePairs(const Format& format) {
  const bool integers = format.sample_format == kFormatPcm;
  const bool floats = format.sample_format == kFormatFloat;
  if (!integers && !floats) return "its samples are " + FormatName(format) + ", neither PCM nor IEEE float";
  if (format.channels != 2) return "it has " + std::to_string(format.channels) + " channels, not the two of I/Q pairs";
  const int bits = format.bits_per_sample;
  if (integers && bits != 16 && bits != 24 && bits != 32) {
    return "its samples have " + std::to_string(bits) + " bits; 16, 24 or 32-bit integers are read";
  }
  if (floats && bits != 32) return "its samples are " + std::to_string(bits) + "-bit floats; 32-bit floats are read";
  if (format.block_align != bits / 8 * 2) return "its frame size does not match its sample size";
  if (format.sample_rate_hz == 0) return "its sample rate is 0";
  return std::nullopt;
}

Encoding EncodingOf(const Format& format) {
  if (format.sample_format == kFormatFloat) return Encoding::kFloat32;
  if (format.bits_per_sample == 16) return Encoding::kInt16;
  return format.bits_per_sample == 24 ? Encoding::kInt24 : Encoding::kInt32;
}

const char* EncodingName(Encoding encoding) {
  switch (encoding) {
    case Encoding::kInt16:
      return "16-bit";
    case Encoding::kInt24:
      return "24-bit";
    case Encoding::kInt32:
      return "32-bit";
    case Encoding::kFloat32:
      return "32-bit float";
  }
  return "";
}

std::string FormatName(const Format& format) {
  std::string name;
  if (format.sample_format == kFormatPcm) {
    name = "PCM";
  } else if (format.sample_format == kFormatFloat) {
    name = "IEEE float";
  } else {
    char tag[32];
    std::snprintf(tag, sizeof tag, "format 0x%04X", format.format_tag);
    return tag;
  }
  return format.format_tag == kFormatExtensible ? name + " (WAVE_FORMAT_EXTENSIBLE)" : name;
}

}  // namespace halvorn::recording

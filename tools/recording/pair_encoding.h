// The sample encodings the tools read as I/Q pairs: two channels of 16, 24
// or 32-bit integers or of 32-bit floats, plain PCM or
// WAVE_FORMAT_EXTENSIBLE, as recordings, sox and other tools write them.
#pragma once

#include <optional>
#include <string>

#include "tools/recording/recording_info.h"

namespace halvorn::recording {

enum class Encoding { kInt16, kInt24, kInt32, kFloat32 };

// Empty when the format holds pairs in one of the encodings; otherwise why not.
std::optional<std::string> UnreadablePairs(const Format& format);

// Only for a format that UnreadablePairs accepts.
Encoding EncodingOf(const Format& format);

// "16-bit", "24-bit", "32-bit", "32-bit float"
const char* EncodingName(Encoding encoding);

// "PCM", "IEEE float", "PCM (WAVE_FORMAT_EXTENSIBLE)", "format 0x0002"
std::string FormatName(const Format& format);

}  // namespace halvorn::recording

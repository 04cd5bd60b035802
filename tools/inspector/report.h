// A recording described in plain words, one "Label: value" line each.
#pragma once

#include <string>

#include "tools/inspector/recording_info.h"

namespace halvorn::inspector {

// "2026-12-06T09:19:49Z"
std::string IsoUtc(std::int64_t utc_seconds);

std::string Describe(const std::string& path, const RecordingInfo& info);

}  // namespace halvorn::inspector

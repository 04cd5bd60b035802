// A recording described in plain words, one "Label: value" line each.
#pragma once

#include <string>

#include "tools/recording/recording_info.h"

namespace halvorn::inspector {

std::string Describe(const std::string& path, const recording::RecordingInfo& info);

}  // namespace halvorn::inspector

// Finishes a recording that was never stopped: its sizes are written from the
// file's length, after a torn frame at its end is cut off.
#pragma once

#include <string>

#include "tools/recording/recording_info.h"

namespace halvorn::inspector {

// False, with the reason in `error`, when the file cannot be finished.
bool RepairRecording(const std::string& path, const recording::RecordingInfo& info, std::string& error);

}  // namespace halvorn::inspector

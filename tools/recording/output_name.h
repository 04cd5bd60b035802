// What the tools name the files they make from a recording.
#pragma once

#include <string>

namespace halvorn::recording {

// The recording's path with its extension replaced: "a/rec.wav" and ".png"
// give "a/rec.png"; a name without an extension gets one.
std::string NamedAfter(const std::string& recording, const std::string& extension);

}  // namespace halvorn::recording

#include "tools/recording/output_name.h"

namespace halvorn::recording {

std::string NamedAfter(const std::string& recording, const std::string& extension) {
  const std::size_t slash = recording.find_last_of("/\\");
  const std::size_t dot = recording.find_last_of('.');
  const bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  return (has_extension ? recording.substr(0, dot) : recording) + extension;
}

}  // namespace halvorn::recording

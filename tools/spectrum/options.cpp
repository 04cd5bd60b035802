#include "tools/spectrum/options.h"

#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "tools/spectrum/analysis_plan.h"

namespace halvorn::spectrum {
namespace {

// A whole decimal number from `low` to `high` and nothing else.
std::optional<int> Whole(const char* text, long low, long high) {
  if (text == nullptr || *text == '\0') return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const long value = std::strtol(text, &end, 10);
  if (errno != 0 || *end != '\0' || value < low || value > high) return std::nullopt;
  return static_cast<int>(value);
}

std::string PictureNameFor(const std::string& recording) {
  const std::size_t slash = recording.find_last_of('/');
  const std::size_t dot = recording.find_last_of('.');
  const bool has_extension = dot != std::string::npos && (slash == std::string::npos || dot > slash + 1);
  return (has_extension ? recording.substr(0, dot) : recording) + ".png";
}

}  // namespace

std::optional<Options> ParseOptions(int argc, const char* const* argv, std::string& error) {
  Options options;
  for (int i = 1; i < argc; ++i) {
    const char* argument = argv[i];
    const char* value = i + 1 < argc ? argv[i + 1] : nullptr;
    const auto number = [&](long low, long high) {
      const std::optional<int> parsed = Whole(value, low, high);
      if (!parsed) {
        error = std::string(argument) + " wants a whole number from " + std::to_string(low) + " to " +
                std::to_string(high);
      }
      ++i;
      return parsed;
    };
    if (std::strcmp(argument, "-o") == 0) {
      if (value == nullptr || *value == '\0') {
        error = "-o wants the name of the picture";
        return std::nullopt;
      }
      options.picture = value;
      ++i;
    } else if (std::strcmp(argument, "--fft") == 0) {
      if (!(options.fft_size = number(kSmallestFftSize, kLargestFftSize))) return std::nullopt;
    } else if (std::strcmp(argument, "--average") == 0) {
      if (!(options.frames_per_line = number(1, 1000000))) return std::nullopt;
    } else if (std::strcmp(argument, "--peaks") == 0) {
      const std::optional<int> peaks = number(1, 10000);
      if (!peaks) return std::nullopt;
      options.peaks = *peaks;
    } else if (argument[0] == '-' && argument[1] != '\0') {
      error = std::string("unknown option ") + argument;
      return std::nullopt;
    } else if (options.recording.empty()) {
      options.recording = argument;
    } else {
      error = "one recording at a time";
      return std::nullopt;
    }
  }
  if (options.recording.empty()) {
    error = "which recording?";
    return std::nullopt;
  }
  if (options.picture.empty()) options.picture = PictureNameFor(options.recording);
  return options;
}

}  // namespace halvorn::spectrum

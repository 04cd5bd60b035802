// The command line of halvorn-spectrum.
#pragma once

#include <optional>
#include <string>

namespace halvorn::spectrum {

inline constexpr const char* kUsage =
    "usage: halvorn-spectrum RECORDING.wav [-o OUT.png] [--fft N] [--average M] [--peaks K]\n"
    "  -o OUT.png    the picture (default: the recording's name with .png)\n"
    "  --fft N       pairs per transform, 16 to 1048576 (default: a power of two\n"
    "                giving bins of 20 Hz or less)\n"
    "  --average M   transforms averaged into each waterfall line (default: as\n"
    "                many as fit the whole recording into the picture)\n"
    "  --peaks K     print the K strongest peaks of the averaged spectrum and\n"
    "                mark those that stand clear of the noise in the picture\n";

struct Options {
  std::string recording;
  std::string picture;
  std::optional<int> fft_size;
  std::optional<int> frames_per_line;
  int peaks = 0;
};

// Empty, with the reason in `error`, for a command line that does not parse.
std::optional<Options> ParseOptions(int argc, const char* const* argv, std::string& error);

}  // namespace halvorn::spectrum

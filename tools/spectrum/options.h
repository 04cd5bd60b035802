// The command line of halvorn-spectrum.
#pragma once

#include <optional>
#include <string>

#include "tools/command_line/command_line.h"
#include "tools/command_line/program_answer.h"

namespace halvorn::spectrum {

inline constexpr cli::Program kProgram{
    "halvorn-spectrum",
    "usage: halvorn-spectrum RECORDING.wav [-o OUT.png] [--fft N] [--average M] [--peaks K]\n"
    "\n"
    "Draws a recording's averaged spectrum over its waterfall, in RF frequency\n"
    "and dBFS, and prints its strongest peaks. Reads any two-channel WAV of\n"
    "16, 24 or 32-bit integers or 32-bit floats; one without the plug-in's\n"
    "\"rcvr\" chunk is drawn around 0 Hz, with a note.\n"
    "\n"
    "  -o OUT.png    the picture (default: the recording's name with .png)\n"
    "  --fft N       pairs per transform, 16 to 1048576 (default: a power of two\n"
    "                giving bins of 20 Hz or less)\n"
    "  --average M   transforms averaged into each waterfall line (default: as\n"
    "                many as fit the whole recording into the picture)\n"
    "  --peaks K     print the K strongest peaks of the averaged spectrum and\n"
    "                mark those that stand clear of the noise in the picture\n"
    "  --help        this text\n"
    "  --version     the version\n"
    "\n"
    "Exit status: 0 the picture was written; 1 the file is not a recording,\n"
    "holds nothing to draw, or cannot be read or written; 2 wrong command line.\n"};

struct Options {
  std::string recording;
  std::string picture;
  std::optional<int> fft_size;
  std::optional<int> frames_per_line;
  int peaks = 0;
};

cli::Parsed ParseOptions(int argc, const char* const* argv, Options& options);

}  // namespace halvorn::spectrum

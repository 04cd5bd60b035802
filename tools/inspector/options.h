// The command line of halvorn-inspect.
#pragma once

#include <string>
#include <vector>

#include "tools/command_line/command_line.h"
#include "tools/command_line/program_answer.h"

namespace halvorn::inspector {

inline constexpr cli::Program kProgram{
    "halvorn-inspect",
    "usage: halvorn-inspect [--repair] [--sigmf] FILE...\n"
    "\n"
    "Tells what each recording holds: its sample format, the LO, sample rate,\n"
    "start time and front-end settings from the plug-in's \"rcvr\" chunk, its\n"
    "length, and whether it was finished. Any RIFF/WAVE file is described.\n"
    "\n"
    "  --repair    finish a recording that was never stopped (as after a\n"
    "              crash): its sizes are written from the file's length, after\n"
    "              a torn pair at its end is cut off\n"
    "  --sigmf     write FILE.sigmf-data and FILE.sigmf-meta beside each file\n"
    "              (FILE is its name without .wav), a SigMF recording for\n"
    "              inspectrum, GNU Radio and other SDR tools: ci16_le samples\n"
    "              for 16-bit recordings, cf32_le for all others\n"
    "  --help      this text\n"
    "  --version   the version\n"
    "\n"
    "Exit status: 0 every file is a WAV file (finished or not) and all that\n"
    "was asked was done; 1 a file is no WAV file, or could not be read,\n"
    "repaired or exported (the other files are still done); 2 wrong command\n"
    "line.\n"};

struct Options {
  bool repair = false;
  bool sigmf = false;
  std::vector<std::string> files;
};

cli::Parsed ParseOptions(int argc, const char* const* argv, Options& options);

}  // namespace halvorn::inspector

// The command line of extio_host: what session to run and what to keep.
#pragma once

#include <cstdint>
#include <optional>
#include <string>

#include "tools/command_line/command_line.h"
#include "tools/command_line/program_answer.h"

namespace halvorn::host {

struct HostOptions {
  std::string plugin_path;  // empty: ExtIO_halvorn.dll beside the program
  std::optional<std::int32_t> lo_hz;  // empty: the plug-in's own GetHWLO
  std::optional<int> rate_index;      // a row of the Halvorn panel's nine rates
  std::optional<double> attenuation_db;  // 0 or more
  bool list = false;                     // print the plug-in's own menus instead of streaming
  double seconds = 10.0;
  bool record = false;
  std::string source;  // "scene" or "counting" for the simulated receiver; empty: its default
  std::string capture_path;
  std::string panel_picture_path;
  double watchdog_s = 3.0;
  bool quiet = false;
};

// Fills `options` from the command line; the outcome says whether to run.
cli::Parsed ParseHostOptions(int argc, const char* const* argv, HostOptions& options);

// A frequency as the user writes it: "7050000", "7050k", "7.05M" (Hz).
std::optional<std::int32_t> ParseFrequencyHz(const std::string& text);

// A row index 0 to 8, or a rate in Hz within 0.5 % of one of the nine rates
// ("250000", "250k", "2M", "48000").
std::optional<int> ParseRateChoice(const std::string& text);

extern const cli::Program kHostProgram;

}  // namespace halvorn::host

#include "host/extio_host_options.h"

#include <cerrno>
#include <cmath>
#include <cstdlib>

#include "receiver/sample_rate_table.h"

namespace halvorn::host {

const cli::Program kHostProgram{
    "extio_host",
    "usage: extio_host [options]\n"
    "\n"
    "Loads an ExtIO receiver plug-in as an SDR host program does, runs one\n"
    "session (InitHW, OpenHW, SetCallback, StartHW, StopHW, CloseHW) and shows\n"
    "once a second what arrives: the sample rate measured from the blocks\n"
    "against the rate the plug-in reports (GetHWSR), blocks received, blocks\n"
    "dropped and the recording's size. Ends with a summary.\n"
    "\n"
    "  --plugin PATH      the plug-in DLL (default: ExtIO_halvorn.dll beside this\n"
    "                     program). Its device library is looked for beside this\n"
    "                     program first, then beside the plug-in.\n"
    "  --lo HZ            LO for StartHW: 7050000, 7050k or 7.05M (default: the\n"
    "                     plug-in's own, from GetHWLO)\n"
    "  --rate INDEX|HZ    sample rate, chosen through the plug-in's ExtIoSetSrate\n"
    "                     before the stream starts: a row 0-8 or a rate (125k\n"
    "                     250k 500k 1M 2M 95238 48k 96k 192k)\n"
    "  --att DB           attenuation in dB, chosen through the plug-in's\n"
    "                     SetAttenuator before the stream starts: 0, 10, 20 or 30\n"
    "                     for the Halvorn receiver (-20 means 20 as well)\n"
    "  --list             print the plug-in's own sample-rate and attenuator\n"
    "                     menus (ExtIoGetSrates, ExtIoGetBandwidth, GetAttenuators)\n"
    "                     after OpenHW, with the current entries, and stream nothing\n"
    "  --seconds N        length of the session (default 10; decimals allowed)\n"
    "  --record           record through the panel's Rec and Stop buttons; the\n"
    "                     files go to the current directory\n"
    "  --source scene|counting\n"
    "                     what the simulated receiver sends (HALVORNSIM_SOURCE):\n"
    "                     the radio scene around 7.05 MHz, or a counting pattern\n"
    "                     that lets every lost pair be counted exactly\n"
    "  --capture FILE     keep the raw I/Q pairs the host received, as delivered\n"
    "  --panel-picture FILE\n"
    "                     save a picture of the Halvorn panel (BMP) halfway\n"
    "                     through the session\n"
    "  --watchdog S       fail when no block arrives for S seconds (default 3)\n"
    "  --quiet            no progress lines, only the summary and problems\n"
    "  --help             this text\n"
    "  --version          the version\n"
    "\n"
    "--record and --panel-picture work the Halvorn plug-in's panel as a user\n"
    "would (a click on an enabled control); other plug-ins have no such panel,\n"
    "and the session then runs without them, as it runs without --rate and --att\n"
    "for a plug-in that has no such menu.\n"
    "\n"
    "Exit status: 0 the session ran as asked; 1 the plug-in cannot be loaded or\n"
    "is no ExtIO plug-in; 2 wrong command line; 3 the receiver could not be\n"
    "opened (InitHW or OpenHW failed); 4 blocks did not arrive, stopped arriving,\n"
    "or the plug-in hung; 5 the rate or the attenuator could not be chosen, or\n"
    "the recording, the capture or the panel picture failed; 6 the counting\n"
    "pattern showed lost, repeated or damaged blocks.\n"
    "Ctrl+C ends the session early, cleanly.\n"};

namespace {

// Beyond any receiver's attenuator.
constexpr double kMostAttenuationDb = 200.0;

// A decimal number with an optional k or M multiplier, and nothing else.
std::optional<double> ScaledNumber(const std::string& text) {
  if (text.empty()) return std::nullopt;
  std::string digits = text;
  double scale = 1.0;
  const char last = digits.back();
  if (last == 'k' || last == 'K') {
    scale = 1e3;
    digits.pop_back();
  } else if (last == 'M' || last == 'm') {
    scale = 1e6;
    digits.pop_back();
  }
  if (digits.empty() || digits.find_first_not_of("+-0123456789.") != std::string::npos) return std::nullopt;
  errno = 0;
  char* end = nullptr;
  const double value = std::strtod(digits.c_str(), &end);
  if (errno != 0 || end == digits.c_str() || *end != '\0' || !std::isfinite(value)) return std::nullopt;
  return value * scale;
}

// A number from `low` to `high`, without a multiplier.
std::optional<double> PlainNumber(const std::string& text, double low, double high) {
  const std::optional<double> value = ScaledNumber(text);
  if (!value || text.find_first_of("kKmM") != std::string::npos || *value < low || *value > high) return std::nullopt;
  return value;
}

}  // namespace

std::optional<std::int32_t> ParseFrequencyHz(const std::string& text) {
  const std::optional<double> hz = ScaledNumber(text);
  if (!hz) return std::nullopt;
  const double whole = std::round(*hz);
  // "7.0515M" is whole hertz once the decimal's rounding is forgiven;
  // "7.0515005M" asks for a fraction of a hertz.
  if (std::fabs(*hz - whole) > 1e-3) return std::nullopt;
  if (whole < -2147483648.0 || whole > 2147483647.0) return std::nullopt;
  return static_cast<std::int32_t>(whole);
}

std::optional<int> ParseRateChoice(const std::string& text) {
  if (text.size() == 1 && text[0] >= '0' && text[0] < '0' + receiver::kSampleRateCount) return text[0] - '0';
  const std::optional<double> hz = ScaledNumber(text);
  if (!hz || *hz <= 0) return std::nullopt;
  std::optional<int> nearest;
  double nearest_error = 0.005;
  for (int index = 0; index < receiver::kSampleRateCount; ++index) {
    const double rate = receiver::kSampleRateTable[index].rate_hz;
    const double error = std::fabs(*hz - rate) / rate;
    if (error <= nearest_error) {
      nearest = index;
      nearest_error = error;
    }
  }
  return nearest;
}

cli::Parsed ParseHostOptions(int argc, const char* const* argv, HostOptions& options) {
  cli::CommandLine line(0, 0, "");
  line.Value("--plugin", options.plugin_path);
  line.Value("--lo", [&](const std::string& value) -> std::optional<std::string> {
    options.lo_hz = ParseFrequencyHz(value);
    if (options.lo_hz) return std::nullopt;
    return "--lo wants a frequency in whole hertz (7050000, 7050k, 7.05M), not " + value;
  });
  line.Value("--rate", [&](const std::string& value) -> std::optional<std::string> {
    options.rate_index = ParseRateChoice(value);
    if (options.rate_index) return std::nullopt;
    return "--rate wants a row 0-8 or one of the rates 125k 250k 500k 1M 2M 95238 48k 96k 192k, not " + value;
  });
  line.Value("--att", [&](const std::string& value) -> std::optional<std::string> {
    const std::optional<double> db = PlainNumber(value, -kMostAttenuationDb, kMostAttenuationDb);
    if (!db) return "--att wants the attenuation in dB (0, 10, 20, 30), not " + value;
    options.attenuation_db = std::fabs(*db);
    return std::nullopt;
  });
  line.Flag("--list", options.list);
  line.Value("--seconds", [&](const std::string& value) -> std::optional<std::string> {
    const std::optional<double> seconds = PlainNumber(value, 0.1, 7 * 86400.0);
    if (!seconds) return "--seconds wants a number of seconds from 0.1 to 604800, not " + value;
    options.seconds = *seconds;
    return std::nullopt;
  });
  line.Value("--watchdog", [&](const std::string& value) -> std::optional<std::string> {
    const std::optional<double> seconds = PlainNumber(value, 0.5, 600.0);
    if (!seconds) return "--watchdog wants a number of seconds from 0.5 to 600, not " + value;
    options.watchdog_s = *seconds;
    return std::nullopt;
  });
  line.Flag("--record", options.record);
  line.Value("--source", [&](const std::string& value) -> std::optional<std::string> {
    if (value != "scene" && value != "counting") return "--source wants scene or counting, not " + value;
    options.source = value;
    return std::nullopt;
  });
  line.Value("--capture", options.capture_path);
  line.Value("--panel-picture", options.panel_picture_path);
  line.Flag("--quiet", options.quiet);
  line.Flag("-q", options.quiet);
  return line.Parse(argc, argv);
}

}  // namespace halvorn::host

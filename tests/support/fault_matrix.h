// The device fault matrix: the points of a host's session where the plug-in
// calls each entry of the device library, and the one visible effect of its
// failure there. Natively and through the real DLL alike, every entry is
// taken out and made to fail at each of its points.
#pragma once

#include <cstdio>
#include <map>
#include <stdexcept>
#include <string>
#include <utility>
#include <vector>

namespace halvorn::testing {

// A host's session in the order it runs; each point is one entry point call or
// one panel handler, with the receiver and the stream in the state the points
// before it left (a rate chosen before each load of a bitstream: left
// pending while nothing streams, in force at once while the stream runs).
enum Point {
  kInitHW,
  kOpenHW,
  kSetHWLO,
  kStartHW,
  kAttenuatorClick,
  kDitherClick,
  kPreampClick,
  kPreselectorOffClick,
  kPreselectorOnClick,
  kCalibrateClick,
  kRateClick,
  kRecClick,
  kTimerTick,
  kStopClick,
  kStopHW,
  kRestartHW,
  kInitHWWhileStreaming,
  kStartHWAgain,
  kCloseHWWhileStreaming,
  kPointCount
};

constexpr const char* kPointNames[kPointCount] = {
    "InitHW",        "OpenHW",           "SetHWLO",     "StartHW",          "0dB->20dB click",
    "Dither click",  "Preamp click",     "Presel off",  "Presel on",        "Clk Calib click",
    "rate click",    "Rec click",        "timer tick",  "Stop click",       "StopHW",
    "StartHW again", "InitHW streaming", "StartHW 3rd", "CloseHW streaming"};

// What the user or the host sees when the entry fails or is missing at a
// point: nothing, the bitstream message, or the entry point's failure.
enum Seen { kNotCalled, kSilent, kShowsBitstreamMessage, kInitHWFails, kStartHWFails };

struct EntryCalls {
  const char* entry;
  std::vector<std::pair<Point, Seen>> calls;  // every other point does not call it
};

// The matrix: where the plug-in calls each entry in the session above, the
// stream running from StartHW on, and the one visible effect of its failure
// there. Everything else is silent.
inline const std::vector<EntryCalls> kCalls = {
    {"Open", {{kInitHW, kInitHWFails}, {kInitHWWhileStreaming, kInitHWFails}}},
    {"Close", {{kCloseHWWhileStreaming, kSilent}}},
    {"FirmwareDownload", {{kInitHW, kInitHWFails}, {kInitHWWhileStreaming, kInitHWFails}}},
    {"FpgaConfig",
     {{kOpenHW, kShowsBitstreamMessage},
      {kSetHWLO, kShowsBitstreamMessage},
      {kStartHW, kShowsBitstreamMessage},
      {kRateClick, kShowsBitstreamMessage}}},
    {"GetDeviceName", {}},
    {"GetFriendlyDeviceName", {}},
    {"SetAttenuator", {{kOpenHW, kSilent}, {kAttenuatorClick, kSilent}}},
    {"SetPreselector",
     {{kOpenHW, kSilent},
      {kSetHWLO, kSilent},
      {kStartHW, kSilent},
      {kPreselectorOffClick, kSilent},
      {kPreselectorOnClick, kSilent},
      {kCalibrateClick, kSilent},
      {kRestartHW, kSilent},
      {kStartHWAgain, kSilent}}},
    {"Sio",
     {{kOpenHW, kSilent},
      {kSetHWLO, kSilent},
      {kStartHW, kSilent},
      {kDitherClick, kSilent},
      {kPreampClick, kSilent},
      {kCalibrateClick, kSilent},
      {kRateClick, kSilent},
      {kStopHW, kSilent},
      {kRestartHW, kSilent},
      {kInitHWWhileStreaming, kSilent},
      {kStartHWAgain, kSilent},
      {kCloseHWWhileStreaming, kSilent}}},
    {"GetInputData", {}},
    {"StartAsyncInput",
     {{kStartHW, kStartHWFails}, {kRateClick, kSilent}, {kRestartHW, kStartHWFails}, {kStartHWAgain, kStartHWFails}}},
    {"StopAsyncInput",
     {{kRateClick, kSilent}, {kStopHW, kSilent}, {kInitHWWhileStreaming, kSilent}, {kCloseHWWhileStreaming, kSilent}}},
    {"EepromRead", {}},
    {"EepromWrite", {}},
    {"GetDLLVersion", {}},
};

inline const EntryCalls& CallsOf(const std::string& entry) {
  for (const EntryCalls& row : kCalls) {
    if (entry == row.entry) return row;
  }
  throw std::out_of_range(entry);
}

// The user's clicks and the status timer run on the panel's thread; the
// other points are the host's calls.
constexpr bool OnPanelThread(Point point) { return point >= kAttenuatorClick && point <= kStopClick; }

inline Seen SeenAt(const EntryCalls& row, Point point) {
  for (const auto& [at, seen] : row.calls) {
    if (at == point) return seen;
  }
  return kNotCalled;
}

// The same for a session that never streams (the library or an entry the
// stream needs is missing): a rate chosen waits for the next load instead of
// loading at once, so the bitstreams load at the calibration and at Rec
// rather than at the rate's click.
inline Seen SeenWithoutStream(const EntryCalls& row, Point point) {
  if (std::string(row.entry) != "FpgaConfig") return SeenAt(row, point);
  if (point == kCalibrateClick || point == kRecClick) return kShowsBitstreamMessage;
  return point == kRateClick ? kNotCalled : SeenAt(row, point);
}

enum class Mode { kMissing, kFailing };

inline bool IsStart(Point point) { return point == kStartHW || point == kRestartHW || point == kStartHWAgain; }

// Whether the entry point at `point` still does what it is for when `entry`
// is missing from the library for the whole session: some faults carry on.
// A receiver never opened (no Open or firmware) fails OpenHW; a receiver that
// never had a bitstream refuses its input, as does one whose input could not
// be stopped (it may still be running).
inline bool UsualResultWhileMissing(const std::string& entry, Point point) {
  if (entry == "Open" || entry == "FirmwareDownload") return point != kOpenHW && point != kInitHW &&
                                                             point != kInitHWWhileStreaming;
  if (entry == "FpgaConfig" || entry == "StartAsyncInput") return !IsStart(point);
  if (entry == "StopAsyncInput") return point != kRestartHW && point != kStartHWAgain;
  return true;
}

// One cell of the matrix as a run found it.
struct Cell {
  std::string entry;
  Mode mode;
  Point point;
  Seen expected;
  std::vector<std::string> shown;
};

inline std::string Render(const std::vector<Cell>& cells) {
  static constexpr const char* kSymbols[] = {"-", ".", "M", "F", "S"};
  std::string text =
      "Device faults, point by point (- not called, . silent, M bitstream message, F InitHW false, S StartHW -1):\n";
  char line[256];
  std::snprintf(line, sizeof line, "%-22s %-8s", "entry", "mode");
  text += line;
  for (int p = 0; p < kPointCount; ++p) text += " " + std::to_string(p % 10);
  text += "\n";
  std::map<std::pair<std::string, Mode>, std::string> rows;
  for (const Cell& cell : cells) {
    std::string& row = rows[{cell.entry, cell.mode}];
    if (row.empty()) {
      for (int p = 0; p < kPointCount; ++p) row += " -";
    }
    row[static_cast<std::size_t>(cell.point) * 2 + 1] = kSymbols[cell.expected][0];
  }
  for (const auto& [key, row] : rows) {
    std::snprintf(line, sizeof line, "%-22s %-8s", key.first.c_str(),
                  key.second == Mode::kMissing ? "missing" : "failing");
    text += line + row + "\n";
  }
  text += "points: ";
  for (int p = 0; p < kPointCount; ++p)
    text += std::to_string(p) + " " + kPointNames[p] + (p + 1 < kPointCount ? ", " : "\n");
  return text;
}

}  // namespace halvorn::testing

// The simulator's settings, HALVORNSIM_* environment variables. The plug-in
// never reads them; tests and users set them before loading the library.
#pragma once

#include <cstdint>

namespace halvorn::simulator {

inline constexpr const char* kJournalVariable = "HALVORNSIM_JOURNAL";
inline constexpr const char* kMissingVariable = "HALVORNSIM_MISSING";
inline constexpr const char* kFailVariable = "HALVORNSIM_FAIL";
inline constexpr const char* kSourceVariable = "HALVORNSIM_SOURCE";
inline constexpr const char* kPacingVariable = "HALVORNSIM_PACING";
inline constexpr const char* kClockVariable = "HALVORNSIM_CLOCK_HZ";
inline constexpr const char* kStampVariable = "HALVORNSIM_STAMP";
inline constexpr const char* kStallVariable = "HALVORNSIM_STALL";
inline constexpr const char* kUnplugVariable = "HALVORNSIM_UNPLUG";

// Room for a path or a list of entry names.
inline constexpr int kSettingChars = 1024;

enum class SourceKind { kScene, kCounting, kBlockCounting };
enum class Pacing { kRealtime, kUnpaced };

// The receiver's true reference clock unless HALVORNSIM_CLOCK_HZ says
// otherwise: 2.1 ppm above the nominal 80 MHz, as a real oscillator might be,
// so that a clock calibration has something to correct.
inline constexpr std::int32_t kDefaultTrueClockHz = 80000170;
inline constexpr std::int32_t kLowestClockHz = 1000000;
inline constexpr std::int32_t kHighestClockHz = 1000000000;

// True when `entry` is one of the comma-separated names in `list` (blanks
// around names ignored, names compared exactly).
bool ListContains(const char* list, const char* entry);

// HALVORNSIM_FAIL names the entry.
bool FailureInjected(const char* entry);

// HALVORNSIM_SOURCE: "scene" (also when unset or unknown), "counting" or
// "blocks".
SourceKind ReadSourceKind();
// HALVORNSIM_PACING: "realtime" (also when unset or unknown) or "unpaced".
Pacing ReadPacing();
// HALVORNSIM_STAMP=1: each transfer's first 8 bytes carry the moment it is
// handed over (steady clock, nanoseconds, little-endian), for measuring how
// long a plug-in takes to pass it on.
bool ReadStampTransfers();
// HALVORNSIM_STALL=<after_ms>,<for_ms>: once a stream has run after_ms, its
// input delivers nothing for for_ms, as a receiver whose USB link hangs, then
// goes on at its pace. No stall when unset or malformed.
struct Stall {
  std::uint32_t after_ms = 0;
  std::uint32_t for_ms = 0;
};
Stall ReadStall();
// HALVORNSIM_UNPLUG=<seconds>[:<replug_seconds>], decimal seconds kept to the
// millisecond: the receiver is unplugged that long after the load's first
// StartAsyncInput and, with replug_seconds, plugged back that long after.
// Not set when unset or malformed.
struct Unplug {
  bool set = false;
  std::uint32_t after_ms = 0;
  bool replugs = false;
  std::uint32_t gone_ms = 0;
};
Unplug ReadUnplug();
// HALVORNSIM_CLOCK_HZ: a whole number of hertz from kLowestClockHz to
// kHighestClockHz; the default when unset or anything else.
std::int32_t ReadTrueClockHz();

}  // namespace halvorn::simulator

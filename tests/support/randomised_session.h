// A randomised host session: a seeded generator plays a host and a user at
// once against a plug-in, natively or through the real DLL. It calls the
// thirteen entry points and clicks the panel's controls in any order with
// hostile arguments, acts from inside the host callback, and checks after
// every step what the host, the panel, the simulated receiver's journal and
// the recordings must show (and, where the module can be seen into, the
// receiver's state). A watchdog ends the run, with the seed and the last
// steps, when a step does not come back.
#pragma once

#include <chrono>
#include <cstdint>
#include <optional>
#include <random>
#include <string>
#include <vector>

#include "tests/support/counting_host.h"
#include "tests/support/journal.h"
#include "tests/support/plugin_under_test.h"
#include "tests/support/session_model.h"
#include "tests/support/watchdog.h"

namespace halvorn::testing {

struct SessionOptions {
  std::uint32_t seed = 1;
  int steps = 1000;
  // How long one step may take before the watchdog ends the run.
  std::chrono::seconds step_bound{30};
  // How long a running stream may take to reach the host.
  std::chrono::milliseconds delivery_wait{10000};
  // Clicks on identifiers of no control, or of controls that do not click.
  bool stray_clicks = true;
  // How the host lets the plug-in go at the end; none: StopHW and CloseHW.
  std::optional<Unload> ending;
};

// The seeds to run: HALVORN_SESSION_SEEDS (comma-separated) or `defaults`.
std::vector<std::uint32_t> SessionSeeds(const std::vector<std::uint32_t>& defaults);
// The steps per seed: the variable `variable` or `fallback`.
int SessionSteps(const char* variable, int fallback);

class RandomisedSession {
 public:
  RandomisedSession(PluginUnderTest& plugin, const SessionOptions& options);

  // Runs the steps and the finish, stopping at the first failure.
  void Run();

 private:
  enum Kind {
    kInitHW,
    kOpenHW,
    kStartHW,
    kStopHW,
    kCloseHW,
    kSetHWLO,
    kGetHWLO,
    kGetHWSR,
    kGetStatus,
    kSetCallback,
    kShowGUI,
    kHideGUI,
    kTuneChanged,
    kAttenuator,
    kRate,
    kCheckBox,
    kCalibrate,
    kRec,
    kStop,
    kTimer,
    kStrayClick,
    kInCallback,
    kStall,
    kConcurrent,
    kRun,
    kKindCount
  };

  Kind PickKind();
  void OneStep();

  void DoInitHW();
  void DoOpenHW();
  void DoStartHW(std::int32_t lo_hz);
  void DoStopHW();
  void DoCloseHW();
  void DoSetHWLO(std::int32_t lo_hz);
  void DoSetCallback(bool registered);
  void DoTuneChanged(std::int32_t frequency_hz);
  void DoClick(int id);
  void DoTimer();
  void DoInCallback();
  void DoStall();
  void DoConcurrent();
  void DoRun(int milliseconds);

  // The model's side of a stream that started, with what a recording made
  // in it may skip.
  void StartAnswered(std::int32_t pairs);

  void CheckInvariants();
  void CheckPanel();
  void CheckInside(const InsideView& inside);
  void CheckJournal();
  void CheckRecording();
  void Finish();
  // The host lets the plug-in go without StopHW or CloseHW: the receiver is
  // closed, an open recording finished, and no block comes after.
  void FinishByUnload(Unload way);

  bool Chance(double p);
  int Uniform(int low, int high);
  std::int32_t HostileFrequency();
  std::int32_t TunedFrequency();

  void Begin(std::string description);
  void End();
  std::string Where() const;

  EntryPoints& host_calls() { return plugin_.entry_points(); }
  PanelUnderTest& panel() { return plugin_.panel(); }

  PluginUnderTest& plugin_;
  const SessionOptions options_;
  std::mt19937 rng_;
  CountingHost& host_ = CountingHost::Instance();
  JournalFollower journal_;
  Watchdog watchdog_;

  SessionModel model_;
  int step_ = 0;
  std::string last_step_;
  int shown_messages_ = 0;
  std::vector<int> received_statuses_;
  std::uint8_t last_sent_flags_ = 0;
  std::uint32_t last_sent_nco_ = 0;
  std::uint64_t dropped_before_step_ = 0;
  std::uint64_t device_streams_ = 0;

  // What the recording running since "Rec" may skip: blocks the ring
  // dropped, and blocks the host missed unless it missed some unregistered.
  SessionModel rec_settings_;
  std::uint64_t dropped_at_stream_start_ = 0;
  std::uint64_t dropped_at_rec_ = 0;
  std::uint64_t host_missing_at_stream_start_ = 0;
  std::uint64_t host_missing_at_rec_ = 0;
  bool callback_gap_in_stream_ = false;
  bool callback_gap_in_recording_ = false;
  std::uint64_t recorded_blocks_ = 0;
  std::uint64_t recorded_files_ = 0;
};

}  // namespace halvorn::testing

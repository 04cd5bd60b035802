// A plug-in as the randomised sessions and the fault walks drive it, whether
// the module is built natively over the simulated library or the real DLL is
// loaded under Wine: its entry points, its panel, and what differs in
// reaching the rest (the messages shown, the time it gets to run, its
// recordings, the simulated receiver's settings and journal).
#pragma once

#include <chrono>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>
#include <vector>

#include "ports/host_link.h"

namespace halvorn::testing {

// The thirteen entry points, called as a host calls them.
class EntryPoints {
 public:
  virtual ~EntryPoints() = default;
  virtual bool InitHW(char* name, char* model, int* sample_type) = 0;
  virtual bool OpenHW() = 0;
  virtual std::int32_t StartHW(std::int32_t lo_hz) = 0;
  virtual void StopHW() = 0;
  virtual bool CloseHW() = 0;
  virtual std::int32_t SetHWLO(std::int32_t lo_hz) = 0;
  virtual std::int32_t GetHWLO() = 0;
  virtual std::int32_t GetHWSR() = 0;
  virtual std::int32_t GetStatus() = 0;
  virtual void SetCallback(HostCallback callback) = 0;
  virtual void ShowGUI() = 0;
  virtual void HideGUI() = 0;
  virtual void TuneChanged(std::int32_t frequency_hz) = 0;
};

// The entry points of whatever has them under their own names (the module,
// or the DLL as a host loaded it), reached through `plugin`.
template <typename Plugin>
class EntryPointsOf final : public EntryPoints {
 public:
  explicit EntryPointsOf(std::function<Plugin&()> plugin) : plugin_(std::move(plugin)) {}

  bool InitHW(char* name, char* model, int* sample_type) override { return plugin_().InitHW(name, model, sample_type); }
  bool OpenHW() override { return plugin_().OpenHW(); }
  std::int32_t StartHW(std::int32_t lo_hz) override { return plugin_().StartHW(lo_hz); }
  void StopHW() override { plugin_().StopHW(); }
  bool CloseHW() override { return plugin_().CloseHW(); }
  std::int32_t SetHWLO(std::int32_t lo_hz) override { return plugin_().SetHWLO(lo_hz); }
  std::int32_t GetHWLO() override { return plugin_().GetHWLO(); }
  std::int32_t GetHWSR() override { return plugin_().GetHWSR(); }
  std::int32_t GetStatus() override { return plugin_().GetStatus(); }
  void SetCallback(HostCallback callback) override { plugin_().SetCallback(callback); }
  void ShowGUI() override { plugin_().ShowGUI(); }
  void HideGUI() override { plugin_().HideGUI(); }
  void TuneChanged(std::int32_t frequency_hz) override { plugin_().TuneChanged(frequency_hz); }

 private:
  std::function<Plugin&()> plugin_;
};

// The panel's controls, by identifier.
class PanelUnderTest {
 public:
  virtual ~PanelUnderTest() = default;
  // How a click on `id` reaches its handler, for the log of steps.
  virtual std::string DescribeClick(int id, bool indeterminate) = 0;
  // A click reaches the handler of `id`, enabled or not. `indeterminate`: a
  // check box shows its third state when the handler reads it.
  virtual void Click(int id, bool indeterminate = false) = 0;
  // The one-second timer's tick.
  virtual void TimerTick() = 0;
  // 0 unchecked, 1 checked, 2 the third state.
  virtual int CheckState(int id) = 0;
  virtual bool Enabled(int id) = 0;
  virtual std::string Text(int id) = 0;
};

// A message the user saw; the title is empty where the display has none.
struct ShownMessage {
  std::string title;
  std::string text;
};

// What only a native build can see inside the module.
struct InsideView {
  std::int32_t tuned_lo_hz = 0;
  std::int32_t last_tuned_hz = 0;
  std::int32_t reference_clock_hz = 0;
  int row = 0;
  // Switches as the receiver keeps them: 0 off, 1 on.
  int reload_pending = 0;
  int preselector = 0;
  int preamp = 0;
  int dither = 0;
  int attenuator = 0;
  std::uint8_t record_flags = 0;
  std::uint32_t record_nco_word = 0;
  bool streaming = false;
  bool recording = false;
  std::uint64_t dropped_blocks = 0;
};

// How a host lets the plug-in go without StopHW or CloseHW.
enum class Unload {
  // From a thread that neither loaded it nor owns its panel, while the
  // loading thread pumps its messages.
  kFromAnotherThread,
  // The same, while one of the plug-in's message boxes is open on the
  // loading thread, inside an entry point.
  kWhileAMessageIsOpen,
};

class PluginUnderTest {
 public:
  virtual ~PluginUnderTest() = default;

  virtual EntryPoints& entry_points() = 0;
  virtual PanelUnderTest& panel() = 0;

  // The messages shown since the last take.
  virtual std::vector<ShownMessage> TakeMessages() = 0;

  // Lets the plug-in run for a while, as a host's message loop does.
  virtual void Run(std::chrono::milliseconds duration) = 0;
  // Runs until `done` holds or `timeout` passed; returns done().
  virtual bool RunUntil(const std::function<bool()>& done, std::chrono::milliseconds timeout) = 0;
  // What the host does while it waits for its callback to act.
  virtual void Idle() = 0;

  // Where recordings go (the host's current directory).
  virtual std::string RecordingDirectory() = 0;
  // The recording files made from now on are counted.
  virtual void MarkRecordings() = 0;
  // The files made since the mark, in the order they were made.
  virtual std::vector<std::string> RecordingsSinceMark() = 0;

  // One of the simulated receiver's HALVORNSIM_* settings; empty unsets it.
  virtual void SetSimulator(const std::string& name, const std::string& value) = 0;
  virtual std::string JournalPath() = 0;

  // Nothing where the module cannot be seen into.
  virtual std::optional<InsideView> Inside() { return std::nullopt; }

  // Lets the plug-in go as `way` says, checking that it went as a module
  // must (no fault, no hang, nothing of it left behind); nothing may be
  // called on it afterwards. False where it cannot go that way.
  virtual bool UnloadWithoutClosing(Unload /*way*/) { return false; }
};

}  // namespace halvorn::testing

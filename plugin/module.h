// The plug-in module in portable form: the one object that owns everything
// the module has, from the device library binding to the panel's logic, and
// the entry points the host calls on it: the thirteen every host knows and
// the extended ones from which hosts build their own rate and attenuator
// menus. The Win32 exports are one-line forwards to these; natively, tests
// build the object directly.
#pragma once

#include <atomic>
#include <cstdint>

#include "device/device_library.h"
#include "device/library_loader.h"
#include "panel/control_panel.h"
#include "panel/dialog_controls.h"
#include "panel/dialog_view.h"
#include "ports/host_link.h"
#include "ports/platform_kit.h"
#include "ports/trace.h"
#include "ports/user_interface.h"
#include "receiver/control_record_link.h"
#include "receiver/receiver.h"
#include "recorder/recorder.h"
#include "streaming/sample_stream.h"

namespace halvorn {

inline constexpr std::int32_t kSampleTypeInt24 = 5;
// StartHW's answer when no stream runs after it, as hosts understand it.
inline constexpr std::int32_t kStartFailed = -1;
inline constexpr const char* kLibraryMissingMessage = "halvornusb.dll not found";
inline constexpr const char* kReceiverLostMessage =
    "The receiver stopped: it no longer answers.\n"
    "Check its USB cable, hub and power. Once it is back, start the stream again in the host.";
// The extended entry points' answers for a row or step that does not exist
// or a choice refused, and for an index or bandwidth that cannot be told.
inline constexpr std::int32_t kExtendedRefused = 1;
inline constexpr std::int32_t kExtendedUnknown = -1;

// What the module needs from the system it runs on; all of it outlives the module.
struct ModulePlatform {
  device::LibraryLoader& loader;
  PlatformKit& kit;
  // What the device library calls with each transfer: the stream's
  // TransferCallback, or the module's way in to it.
  device::TransferCallbackFn transfer_entry;
  UserInterface& ui;
  panel::DialogControls& controls;
  // How the module's own threads call the host.
  HostCallers host_callers;
  // Installed before the module says anything; null discards the texts.
  TraceSink* trace_sink = nullptr;
};

class Module final : private streaming::ReceiverLoss {
 public:
  explicit Module(const ModulePlatform& platform, recorder::RecorderOptions recorder_options = {});
  // As ReleaseAll.
  ~Module() override;
  Module(const Module&) = delete;
  Module& operator=(const Module&) = delete;

  bool InitHW(char* name, char* model, int* sample_type);
  bool OpenHW();
  std::int32_t StartHW(std::int32_t lo_hz);
  void StopHW();
  bool CloseHW();
  std::int32_t SetHWLO(std::int32_t lo_hz);
  std::int32_t GetHWLO();
  std::int32_t GetHWSR();
  std::int32_t GetStatus();
  void SetCallback(HostCallback callback);
  void ShowGUI();
  void HideGUI();
  void TuneChanged(std::int32_t frequency_hz);

  // The extended entry points (extended_entry_points.cpp). The rate menu is
  // the panel's nine rows in its order; the attenuator menu runs from the
  // most attenuation (-30 dB) to none, the reverse of the receiver's steps.
  std::int32_t ExtIoGetSrates(std::int32_t index, double* rate_hz);
  std::int32_t ExtIoGetActualSrateIdx();
  std::int32_t ExtIoSetSrate(std::int32_t index);
  std::int32_t ExtIoGetBandwidth(std::int32_t index);
  std::int32_t GetAttenuators(std::int32_t index, float* level_db);
  std::int32_t GetActualAttIdx();
  std::int32_t SetAttenuator(std::int32_t index);
  void VersionInfo(const char* host_name, std::int32_t major, std::int32_t minor);
  void SwitchGUI();

  // The module goes, perhaps without StopHW or CloseHW: the stream ends, an
  // open recording is finished, and the device library is handed to the
  // loader to release, its input stopped and the receiver closed first. No
  // device entry is called here: at an unload their threads could not end.
  void ReleaseAll();
  // The process is ending and its other threads are gone, perhaps inside our
  // locks or the device library: only an open recording is finished.
  void FinishAtProcessExit() { recorder_.FinishAtProcessExit(); }

  Trace& trace() { return trace_; }
  HostLink& host() { return host_; }
  device::DeviceLibrary& device() { return device_; }
  receiver::ControlRecordLink& control_record() { return control_record_; }
  receiver::Receiver& receiver() { return receiver_; }
  recorder::Recorder& recorder() { return recorder_; }
  streaming::SampleStream& stream() { return stream_; }
  panel::ControlPanel& panel() { return panel_; }

 private:
  // Loads the device library, opens the receiver and downloads its firmware,
  // with the message for a missing library.
  bool BringUpDevice();
  // Opens the receiver and downloads its firmware, a handle that went stale
  // with a lost receiver closed first; false when it does not answer.
  bool OpenWithFirmware();
  // The receiver's open-time state, with the panel to match.
  void InitReceiver();
  // The receiver went while streaming: on the panel's thread the stream
  // stops, a recording is finished and the user is told, once.
  void ReceiverLost() override;
  enum class Reopened { kNotLost, kReopened, kStillGone };
  // A receiver that went is closed and opened afresh with its firmware.
  Reopened ReopenIfLost();

  // Declared so that destruction runs safely from the bottom up: the panel's
  // logic goes first, then the stream (nothing is delivered any more), the
  // recorder (an open recording is finished), the receiver and last the
  // device library.
  UserInterface& ui_;
  Trace trace_;
  HostLink host_;
  device::DeviceLibrary device_;
  receiver::ControlRecordLink control_record_{device_};
  panel::DialogView view_;
  receiver::Receiver receiver_;
  recorder::Recorder recorder_;
  streaming::SampleStream stream_;
  panel::ControlPanel panel_;

  std::atomic<bool> first_init_{true};
  // Between a bring-up that got past the firmware and CloseHW.
  std::atomic<bool> device_open_{false};
  // The receiver went (unplugged, its power lost) and has not been opened
  // again since.
  std::atomic<bool> receiver_lost_{false};
};

}  // namespace halvorn

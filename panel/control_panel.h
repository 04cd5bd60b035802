// The control dialog's logic without a window: it owns the receiver's
// settings and the recorder, maps each control to its operation and keeps the
// enable rules around a recording. The Win32 dialog forwards its messages here.
#pragma once

#include <optional>
#include <string>

#include "plugin/module_services.h"
#include "receiver/receiver.h"
#include "recorder/recorder.h"

namespace halvorn::panel {

class ControlPanel {
 public:
  explicit ControlPanel(const ModuleServices& services, recorder::RecorderOptions recorder_options = {});
  ControlPanel(const ControlPanel&) = delete;
  ControlPanel& operator=(const ControlPanel&) = delete;

  receiver::Receiver& receiver() { return receiver_; }
  recorder::Recorder& recorder() { return recorder_; }

  // A click (BN_CLICKED) on `control_id`; controls without a handler are ignored.
  void OnClick(int control_id);
  // The status timer's tick.
  void OnTimer();

 private:
  void StartRecordingRule();
  void StopRecordingRule();
  void ShowIdleArrangement();
  // When a recording could not start or ended badly the panel is idle before
  // the message shows: the box is modal, and the panel stays usable behind it.
  void ShowIdleAndReport(const std::string& failure);
  void EnableSettings(bool enabled);
  bool IsChecked(int control_id);

  UserInterface& ui_;
  receiver::Receiver receiver_;
  // Destroyed first: a recording still open is finished, so the file stays readable.
  recorder::Recorder recorder_;
};

}  // namespace halvorn::panel

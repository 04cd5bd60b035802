// The control dialog's logic without a window: each control's click goes to
// its operation on the receiver or the recorder, and the recorder's buttons
// keep the enable rules around a recording. The Win32 dialog forwards its
// clicks and timer ticks here.
#pragma once

#include <string>

#include "panel/dialog_controls.h"
#include "ports/user_interface.h"
#include "receiver/receiver.h"
#include "recorder/recorder.h"

namespace halvorn::panel {

class ControlPanel {
 public:
  ControlPanel(receiver::Receiver& receiver, recorder::Recorder& recorder, DialogControls& controls,
               UserInterface& ui)
      : receiver_(receiver), recorder_(recorder), controls_(controls), ui_(ui) {}
  ControlPanel(const ControlPanel&) = delete;
  ControlPanel& operator=(const ControlPanel&) = delete;

  // A click (BN_CLICKED) on `control_id`; controls without a handler are ignored.
  void OnClick(int control_id);
  // The status timer's tick.
  void OnTimer();

 private:
  struct ClickHandler {
    int control_id;
    void (ControlPanel::*handle)(int control_id);
  };
  static const ClickHandler kClickHandlers[19];

  void OnAttenuator(int control_id);
  void OnAdcDither(int control_id);
  void OnAdcPreamp(int control_id);
  void OnClockCalibrate(int control_id);
  void OnRec(int control_id);
  void OnStop(int control_id);
  void OnPreselector(int control_id);
  void OnSampleRate(int control_id);

  void ShowIdleArrangement();
  // When a recording could not start or ended badly the panel is idle before
  // the message shows: the box is modal, and the panel stays usable behind it.
  void ShowIdleAndReport(const std::string& failure);
  void EnableSettings(bool enabled);
  bool IsChecked(int control_id);

  receiver::Receiver& receiver_;
  recorder::Recorder& recorder_;
  DialogControls& controls_;
  UserInterface& ui_;
};

}  // namespace halvorn::panel

// The control dialog's logic without a window: each control's click goes to
// its operation on the receiver or the recorder, and the recorder's buttons
// keep the enable rules around a recording. The Win32 dialog forwards its
// clicks and timer ticks here.
#pragma once

#include <mutex>
#include <string>

#include "panel/dialog_controls.h"
#include "ports/panel_view.h"
#include "ports/user_interface.h"
#include "receiver/receiver.h"
#include "recorder/recorder.h"

namespace halvorn::panel {

class ControlPanel {
 public:
  ControlPanel(receiver::Receiver& receiver, recorder::Recorder& recorder, receiver::RunningInput& input,
               DialogControls& controls, PanelView& view, UserInterface& ui)
      : receiver_(receiver), recorder_(recorder), input_(input), controls_(controls), view_(view), ui_(ui) {}
  ControlPanel(const ControlPanel&) = delete;
  ControlPanel& operator=(const ControlPanel&) = delete;

  // A click (BN_CLICKED) on `control_id`; controls without a handler are ignored.
  void OnClick(int control_id);
  // The status timer's tick.
  void OnTimer();
  // A recording under way ends, as at a click on "Stop", and the panel is
  // idle; a receiver that went takes the recording with it.
  void EndRecording();

  // A host's choice of rate row or attenuator step (0 to 3, 10 dB each),
  // from any thread: taken as a click on its button would be, the panel's
  // marks following, but a rate is not told back to the host that chose it.
  // False, with nothing changed, while a recording holds the settings and
  // the choice differs from the setting in use, and for a rate whose
  // bitstream the receiver refused.
  bool HostSelectsSampleRate(int index);
  bool HostSetsAttenuatorStep(int step);

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

  // While a recording runs the settings are the header's and stay as they
  // are: a command for one (from a host, as the buttons are disabled) is not
  // taken, and the panel's marks go back to the receiver's settings.
  bool SettingsFixed();
  // The rate and attenuator marks of the receiver's settings.
  void ShowChoiceMarks();
  void ShowIdleArrangement();
  // When a recording could not start or ended badly the panel is idle before
  // the message shows: the box is modal, and the panel stays usable behind it.
  void ShowIdleAndReport(const std::string& failure);
  void EnableSettings(bool enabled);
  bool IsChecked(int control_id);

  receiver::Receiver& receiver_;
  recorder::Recorder& recorder_;
  receiver::RunningInput& input_;
  DialogControls& controls_;
  PanelView& view_;
  UserInterface& ui_;

  // A host's choice is taken whole before a recording's start reads the
  // settings, or refused once the start has begun. Never held while the
  // host or a message is waited for.
  std::mutex host_choice_mutex_;
  bool recording_starting_ = false;  // guarded by host_choice_mutex_
};

}  // namespace halvorn::panel

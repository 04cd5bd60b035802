#include "panel/control_panel.h"

#include "panel/control_ids.h"

namespace halvorn::panel {

ControlPanel::ControlPanel(const ModuleServices& services, recorder::RecorderOptions recorder_options)
    : ui_(services.ui),
      receiver_(services.device, services.control_record, services.host, services.ui, services.trace),
      recorder_(receiver_, services.host, services.ui, services.trace, std::move(recorder_options)) {}

void ControlPanel::OnClick(int control_id) {
  if (control_id >= kAttenuator0dB && control_id <= kAttenuator30dB) {
    receiver_.SetAttenuatorStep(control_id - kAttenuator0dB);
  } else if (control_id >= kFirstRateButton && control_id <= kLastRateButton) {
    receiver_.SelectSampleRate(control_id - kFirstRateButton);
  } else {
    switch (control_id) {
      case kAdcDither: receiver_.SetAdcDither(IsChecked(kAdcDither)); break;
      case kAdcPreamp: receiver_.SetAdcPreamp(IsChecked(kAdcPreamp)); break;
      case kPreselector: receiver_.EnablePreselector(IsChecked(kPreselector)); break;
      case kClockCalibrate: receiver_.CalibrateClock(); break;
      case kRecButton: StartRecordingRule(); break;
      case kStopButton: StopRecordingRule(); break;
      default: break;
    }
  }
}

void ControlPanel::OnTimer() {
  // A recording the delivery thread could not continue ends here.
  if (std::optional<std::string> failure = recorder_.UpdateRecordingStatus()) ShowIdleAndReport(*failure);
}

// Only a plain check mark counts as on; indeterminate is off.
bool ControlPanel::IsChecked(int control_id) { return ui_.GetCheck(control_id) == 1; }

void ControlPanel::EnableSettings(bool enabled) {
  ui_.Enable(kAdcDither, enabled);
  ui_.Enable(kAdcPreamp, enabled);
  ui_.Enable(kPreselector, enabled);
  for (int id = kAttenuator0dB; id <= kAttenuator30dB; ++id) ui_.Enable(id, enabled);
  for (int id = kFirstRateButton; id <= kLastRateButton; ++id) ui_.Enable(id, enabled);
  ui_.Enable(kClockCalibrate, enabled);
}

void ControlPanel::StartRecordingRule() {
  EnableSettings(false);
  if (std::optional<std::string> failure = recorder_.StartRecording()) {
    ShowIdleAndReport(*failure);
    return;
  }
  ui_.Enable(kStopButton, true);
  ui_.Enable(kRecButton, false);
}

void ControlPanel::StopRecordingRule() {
  if (std::optional<std::string> failure = recorder_.StopRecording()) {
    ShowIdleAndReport(*failure);
  } else {
    ShowIdleArrangement();
  }
}

void ControlPanel::ShowIdleAndReport(const std::string& failure) {
  ShowIdleArrangement();
  ui_.ShowError(failure.c_str());
}

void ControlPanel::ShowIdleArrangement() {
  ui_.Enable(kStopButton, false);
  ui_.Enable(kRecButton, true);
  EnableSettings(true);
}

}  // namespace halvorn::panel

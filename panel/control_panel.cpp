#include "panel/control_panel.h"

#include <optional>

#include "panel/control_ids.h"

namespace halvorn::panel {

// In the order of the dialog's message map.
const ControlPanel::ClickHandler ControlPanel::kClickHandlers[19] = {
    {kAttenuator0dB, &ControlPanel::OnAttenuator},
    {kAttenuator0dB + 1, &ControlPanel::OnAttenuator},
    {kAttenuator0dB + 2, &ControlPanel::OnAttenuator},
    {kAttenuator30dB, &ControlPanel::OnAttenuator},
    {kAdcDither, &ControlPanel::OnAdcDither},
    {kAdcPreamp, &ControlPanel::OnAdcPreamp},
    {kClockCalibrate, &ControlPanel::OnClockCalibrate},
    {kRecButton, &ControlPanel::OnRec},
    {kStopButton, &ControlPanel::OnStop},
    {kPreselector, &ControlPanel::OnPreselector},
    {kFirstRateButton, &ControlPanel::OnSampleRate},
    {kFirstRateButton + 1, &ControlPanel::OnSampleRate},
    {kFirstRateButton + 2, &ControlPanel::OnSampleRate},
    {kFirstRateButton + 3, &ControlPanel::OnSampleRate},
    {kFirstRateButton + 4, &ControlPanel::OnSampleRate},
    {kFirstRateButton + 5, &ControlPanel::OnSampleRate},
    {kFirstRateButton + 6, &ControlPanel::OnSampleRate},
    {kFirstRateButton + 7, &ControlPanel::OnSampleRate},
    {kLastRateButton, &ControlPanel::OnSampleRate},
};

void ControlPanel::OnClick(int control_id) {
  for (const ClickHandler& handler : kClickHandlers) {
    if (handler.control_id == control_id) {
      (this->*handler.handle)(control_id);
      return;
    }
  }
}

void ControlPanel::OnTimer() {
  // A recording the delivery thread could not continue ends here.
  if (std::optional<std::string> failure = recorder_.UpdateRecordingStatus()) ShowIdleAndReport(*failure);
}

void ControlPanel::OnAttenuator(int control_id) {
  if (!SettingsFixed()) receiver_.SetAttenuatorStep(control_id - kAttenuator0dB);
}

void ControlPanel::OnAdcDither(int control_id) {
  if (!SettingsFixed()) receiver_.SetAdcDither(IsChecked(control_id));
}

void ControlPanel::OnAdcPreamp(int control_id) {
  if (!SettingsFixed()) receiver_.SetAdcPreamp(IsChecked(control_id));
}

void ControlPanel::OnClockCalibrate(int /*control_id*/) {
  if (!SettingsFixed()) receiver_.CalibrateClock();
}

void ControlPanel::OnPreselector(int control_id) {
  if (!SettingsFixed()) receiver_.EnablePreselector(IsChecked(control_id));
}

void ControlPanel::OnSampleRate(int control_id) {
  if (!SettingsFixed()) receiver_.SelectSampleRate(control_id - kFirstRateButton, receiver::ChangedBy::kUser, input_);
}

bool ControlPanel::HostSelectsSampleRate(int index) {
  std::lock_guard lock(host_choice_mutex_);
  if (recording_starting_ || recorder_.IsRecording()) return index == receiver_.sample_rate_index();
  const bool in_force = receiver_.SelectSampleRate(index, receiver::ChangedBy::kHost, input_);
  ShowChoiceMarks();
  return in_force;
}

bool ControlPanel::HostSetsAttenuatorStep(int step) {
  std::lock_guard lock(host_choice_mutex_);
  if (recording_starting_ || recorder_.IsRecording()) return step == receiver_.state().attenuator_step;
  receiver_.SetAttenuatorStep(step, receiver::ChangedBy::kHost);
  ShowChoiceMarks();
  return true;
}

// Read when the panel's thread gets to it: a user's click there in the
// meantime is not undone by a mark of the host's older choice.
void ControlPanel::ShowChoiceMarks() {
  ui_.RunOnPanelThread([this] {
    view_.ShowSampleRate(receiver_.sample_rate_index());
    view_.ShowAttenuatorStep(receiver_.state().attenuator_step);
  });
}

bool ControlPanel::SettingsFixed() {
  if (!recorder_.IsRecording()) return false;
  const receiver::ReceiverSettings settings = receiver_.Settings();
  view_.ShowAttenuatorStep(settings.attenuator_step);
  view_.ShowPreselector(settings.preselector_on);
  view_.ShowAdcPreamp(settings.adc_preamp_on);
  view_.ShowAdcDither(settings.adc_dither_on);
  view_.ShowSampleRate(settings.sample_rate_index);
  return true;
}

void ControlPanel::OnRec(int /*control_id*/) {
  {
    std::lock_guard lock(host_choice_mutex_);
    recording_starting_ = true;
  }
  EnableSettings(false);
  // A rate chosen while streaming is loaded now, so the header tells the rate
  // the recorded samples have.
  receiver_.LoadPendingBitstream();
  std::optional<std::string> failure = recorder_.StartRecording();
  {
    // From here on the recorder itself says whether the settings are held.
    std::lock_guard lock(host_choice_mutex_);
    recording_starting_ = false;
  }
  if (failure) {
    ShowIdleAndReport(*failure);
    return;
  }
  controls_.Enable(kStopButton, true);
  controls_.Enable(kRecButton, false);
}

void ControlPanel::OnStop(int /*control_id*/) { EndRecording(); }

void ControlPanel::EndRecording() {
  if (std::optional<std::string> failure = recorder_.StopRecording()) {
    ShowIdleAndReport(*failure);
  } else {
    ShowIdleArrangement();
  }
}

// Only a plain check mark counts as on; indeterminate is off.
bool ControlPanel::IsChecked(int control_id) { return controls_.GetCheck(control_id) == 1; }

void ControlPanel::EnableSettings(bool enabled) {
  controls_.Enable(kAdcDither, enabled);
  controls_.Enable(kAdcPreamp, enabled);
  controls_.Enable(kPreselector, enabled);
  for (int id = kAttenuator0dB; id <= kAttenuator30dB; ++id) controls_.Enable(id, enabled);
  for (int id = kFirstRateButton; id <= kLastRateButton; ++id) controls_.Enable(id, enabled);
  controls_.Enable(kClockCalibrate, enabled);
}

void ControlPanel::ShowIdleAndReport(const std::string& failure) {
  ShowIdleArrangement();
  ui_.ShowError(failure.c_str());
}

void ControlPanel::ShowIdleArrangement() {
  controls_.Enable(kStopButton, false);
  controls_.Enable(kRecButton, true);
  EnableSettings(true);
}

}  // namespace halvorn::panel

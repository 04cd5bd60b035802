#include "panel/dialog_view.h"

#include <cstdio>

#include "panel/control_ids.h"

namespace halvorn::panel {

void DialogView::ShowAttenuatorStep(int step) { controls_.SetCheck(kAttenuator0dB + step, true); }

void DialogView::ShowPreselector(bool on) { controls_.SetCheck(kPreselector, on); }

void DialogView::ShowAdcDither(bool on) { controls_.SetCheck(kAdcDither, on); }

void DialogView::ShowAdcPreamp(bool on) { controls_.SetCheck(kAdcPreamp, on); }

void DialogView::ShowSampleRate(int sample_rate_index) {
  controls_.SetCheck(RateButtonFor(sample_rate_index), true);
}

void DialogView::ShowRecorderReady() {
  controls_.Enable(kStopButton, false);
  controls_.Enable(kRecButton, true);
  controls_.SetText(kFileNameField, " ");
  controls_.SetText(kFileSizeField, " ");
  controls_.SetText(kRecordingTimeField, " ");
}

void DialogView::ShowRecordingName(const char* name) { controls_.SetText(kFileNameField, name); }

void DialogView::ShowRecordingSize(std::uint32_t mebibytes) {
  char text[16];
  std::snprintf(text, sizeof text, "%d", static_cast<int>(mebibytes));
  controls_.SetText(kFileSizeField, text);
}

void DialogView::ShowRecordingTime(std::int64_t seconds) {
  char text[32];
  std::snprintf(text, sizeof text, "%.0f", static_cast<double>(seconds));
  controls_.SetText(kRecordingTimeField, text);
}

}  // namespace halvorn::panel

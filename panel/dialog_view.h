// What the receiver and the recorder show, put onto the dialog's controls.
#pragma once

#include "panel/dialog_controls.h"
#include "ports/panel_view.h"

namespace halvorn::panel {

class DialogView final : public PanelView {
 public:
  explicit DialogView(DialogControls& controls) : controls_(controls) {}

  void ShowAttenuatorStep(int step) override;
  void ShowPreselector(bool on) override;
  void ShowAdcDither(bool on) override;
  void ShowAdcPreamp(bool on) override;
  void ShowSampleRate(int sample_rate_index) override;
  void ShowRecorderReady() override;
  void ShowRecordingName(const char* name) override;
  void ShowRecordingSize(std::uint32_t mebibytes) override;
  void ShowRecordingTime(std::int64_t seconds) override;

 private:
  DialogControls& controls_;
};

}  // namespace halvorn::panel

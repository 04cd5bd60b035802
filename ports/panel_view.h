// What the receiver and the recorder show on the control panel, in the
// user's words. The panel turns each into its controls; nothing below it
// knows a control.
#pragma once

#include <cstdint>

namespace halvorn {

class PanelView {
 public:
  virtual ~PanelView() = default;

  // The receiver's settings as the panel marks them.
  virtual void ShowAttenuatorStep(int step) = 0;  // 0 to 3, 10 dB each
  virtual void ShowPreselector(bool on) = 0;
  virtual void ShowAdcDither(bool on) = 0;
  virtual void ShowAdcPreamp(bool on) = 0;
  virtual void ShowSampleRate(int sample_rate_index) = 0;

  // A recorder ready to start: "Rec" usable, "Stop" not, its fields blank.
  virtual void ShowRecorderReady() = 0;
  // The recording's file name, its size in whole mebibytes and its seconds.
  virtual void ShowRecordingName(const char* name) = 0;
  virtual void ShowRecordingSize(std::uint32_t mebibytes) = 0;
  virtual void ShowRecordingTime(std::int64_t seconds) = 0;
};

}  // namespace halvorn

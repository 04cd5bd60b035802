// Benchmarks run without the panel: what the core would show goes nowhere.
#pragma once

#include "ports/panel_view.h"
#include "ports/user_interface.h"
#include "streaming/receiver_loss.h"

namespace halvorn::bench {

class NoWindow final : public UserInterface, public PanelView, public streaming::ReceiverLoss {
 public:
  void ShowError(const char*) override {}
  void ShowNotice(const char*) override {}
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}
  void StartStatusTimer() override {}
  void StopStatusTimer() override {}
  void PreparePanel() override {}
  void ShowPanel() override {}
  void MinimisePanel() override {}
  void SwitchPanel() override {}
  void RunOnPanelThread(std::function<void()>) override {}

  void ShowAttenuatorStep(int) override {}
  void ShowPreselector(bool) override {}
  void ShowAdcDither(bool) override {}
  void ShowAdcPreamp(bool) override {}
  void ShowSampleRate(int) override {}
  void ShowRecorderReady() override {}
  void ShowRecordingName(const char*) override {}
  void ShowRecordingSize(std::uint32_t) override {}
  void ShowRecordingTime(std::int64_t) override {}

  void ReceiverLost() override {}
};

}  // namespace halvorn::bench

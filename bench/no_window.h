// Benchmarks run without the panel: what the core would show goes nowhere.
#pragma once

#include "panel/user_interface.h"

namespace halvorn::bench {

class NoWindow final : public UserInterface {
 public:
  void ShowError(const char*) override {}
  void SetCheck(int, bool) override {}
  int GetCheck(int) override { return 0; }
  void Enable(int, bool) override {}
  void SetText(int, const char*) override {}
  void BeginWaitCursor() override {}
  void EndWaitCursor() override {}
  void StartStatusTimer() override {}
  void StopStatusTimer() override {}
  void ShowPanel() override {}
  void MinimisePanel() override {}
};

}  // namespace halvorn::bench

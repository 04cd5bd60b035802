// The user-interface seam on the real windows.
#pragma once

#include <windows.h>

#include "panel/user_interface.h"

namespace halvorn::panel {

class Win32UserInterface final : public UserInterface {
 public:
  void ShowError(const char* text) override;
  void SetCheck(int control_id, bool marked) override;
  int GetCheck(int control_id) override;
  void Enable(int control_id, bool enabled) override;
  void SetText(int control_id, const char* text) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  void StartStatusTimer() override;
  void StopStatusTimer() override;
  void ShowPanel() override;
  void MinimisePanel() override;

 private:
  HWND dialog_ = nullptr;
  HCURSOR saved_cursor_ = nullptr;
};

}  // namespace halvorn::panel

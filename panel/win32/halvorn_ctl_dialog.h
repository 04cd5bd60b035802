// The control dialog: the panel's controls from dialog template 103. Its
// clicks and timer ticks go to the panel's logic, which lives as long as the
// module does.
#pragma once

// The core before <windows.h> (see plugin/win32/win32_module.h).
#include "panel/control_panel.h"

#include "panel/win32/dialog.h"
#include "panel/win32/window_thread_work.h"

namespace halvorn::panel {

class CHalvornCtlDialog final : public win::Dialog {
 public:
  // With template 103 and no window yet.
  CHalvornCtlDialog(ControlPanel& panel, win::WindowThreadWork& work);

  // The control with this identifier; null without a dialog window.
  HWND Control(int control_id) const;

 protected:
  bool OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  ControlPanel& panel_;
  win::WindowThreadWork& work_;
};

// Posted to the dialog when work from other threads waits for it.
inline constexpr UINT kRunQueuedWork = WM_APP + 0x102;

}  // namespace halvorn::panel

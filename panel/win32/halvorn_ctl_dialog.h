// The control dialog: the panel's controls from dialog template 103. Its
// clicks and timer ticks go to the panel's logic, which lives as long as the
// module does.
#pragma once

// The core before <windows.h> (see plugin/win32/win32_module.h).
#include "panel/control_panel.h"

#include "panel/win32/dialog.h"

namespace halvorn::panel {

class CHalvornCtlDialog final : public win::Dialog {
 public:
  // With template 103 and no window yet.
  explicit CHalvornCtlDialog(ControlPanel& panel);

  // The control with this identifier; null without a dialog window.
  HWND Control(int control_id) const;

 protected:
  bool OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  ControlPanel& panel_;
};

}  // namespace halvorn::panel

#include "panel/win32/halvorn_ctl_dialog.h"

#include "panel/control_ids.h"

namespace halvorn::panel {

CHalvornCtlDialog::CHalvornCtlDialog(ControlPanel& panel) : win::Dialog(kDialogTemplateId), panel_(panel) {}

HWND CHalvornCtlDialog::Control(int control_id) const {
  const HWND dialog = hwnd();
  return dialog != nullptr ? GetDlgItem(dialog, control_id) : nullptr;
}

bool CHalvornCtlDialog::OnInitDialog() {
  // No default focus: the panel is built hidden, and the focus would go to a
  // control nobody can see. Showing the panel gives its first control the
  // focus (the frame hands it on).
  return false;
}

bool CHalvornCtlDialog::OnMessage(UINT message, WPARAM wparam, LPARAM /*lparam*/) {
  switch (message) {
    case WM_COMMAND:
      if (HIWORD(wparam) != BN_CLICKED) return false;
      panel_.OnClick(LOWORD(wparam));
      return true;
    case WM_TIMER:
      panel_.OnTimer();
      return true;
    default:
      return false;
  }
}

}  // namespace halvorn::panel

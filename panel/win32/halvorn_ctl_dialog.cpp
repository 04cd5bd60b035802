#include "panel/win32/halvorn_ctl_dialog.h"

#include "panel/control_ids.h"

namespace halvorn::panel {

CHalvornCtlDialog::CHalvornCtlDialog(ControlPanel& panel, win::WindowThreadWork& work)
    : win::Dialog(kDialogTemplateId), panel_(panel), work_(work) {}

HWND CHalvornCtlDialog::Control(int control_id) const {
  const HWND dialog = hwnd();
  return dialog != nullptr ? GetDlgItem(dialog, control_id) : nullptr;
}

bool CHalvornCtlDialog::OnInitDialog() {
  // No default focus: the panel is built hidden, at load, on the thread of
  // the host's own windows, and the focus would leave the host's window for
  // a control nobody can see. Showing the panel gives its first control the
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
    case kRunQueuedWork:
      for (const auto& work : work_.TakeAll()) work();
      return true;
    default:
      return false;
  }
}

}  // namespace halvorn::panel

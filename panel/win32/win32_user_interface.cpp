#include "panel/win32/win32_user_interface.h"

#include "panel/control_ids.h"

namespace halvorn::panel {

CHalvornCtlDialog* Win32UserInterface::dialog() const {
  CMainFrame* frame = application_.main_frame();
  return frame != nullptr ? &frame->control_dialog() : nullptr;
}

HWND Win32UserInterface::dialog_window() const {
  CHalvornCtlDialog* control_dialog = dialog();
  return control_dialog != nullptr ? control_dialog->hwnd() : nullptr;
}

HWND Win32UserInterface::control(int control_id) const {
  CHalvornCtlDialog* control_dialog = dialog();
  return control_dialog != nullptr ? control_dialog->Control(control_id) : nullptr;
}

// No owner: the panel stays usable behind the box, and the box's modal loop
// dispatches its clicks and timer ticks as the host's loop would.
void Win32UserInterface::ShowError(const char* text) {
  MessageBoxA(nullptr, text, kMessageTitle, MB_OK | MB_ICONERROR);
}

void Win32UserInterface::SetCheck(int control_id, bool marked) {
  if (const HWND button = control(control_id)) {
    SendMessageA(button, BM_SETCHECK, marked ? BST_CHECKED : BST_UNCHECKED, 0);
  }
}

int Win32UserInterface::GetCheck(int control_id) {
  const HWND button = control(control_id);
  return button != nullptr ? static_cast<int>(SendMessageA(button, BM_GETCHECK, 0, 0)) : BST_UNCHECKED;
}

void Win32UserInterface::Enable(int control_id, bool enabled) {
  if (const HWND item = control(control_id)) EnableWindow(item, enabled ? TRUE : FALSE);
}

void Win32UserInterface::SetText(int control_id, const char* text) {
  if (const HWND item = control(control_id)) SetWindowTextA(item, text);
}

void Win32UserInterface::BeginWaitCursor() { saved_cursor_ = SetCursor(LoadCursorA(nullptr, IDC_WAIT)); }

void Win32UserInterface::EndWaitCursor() { SetCursor(saved_cursor_); }

void Win32UserInterface::StartStatusTimer() {
  if (const HWND window = dialog_window()) SetTimer(window, kStatusTimerId, kStatusTimerPeriodMs, nullptr);
}

void Win32UserInterface::StopStatusTimer() {
  if (const HWND window = dialog_window()) KillTimer(window, kStatusTimerId);
}

void Win32UserInterface::ShowPanel() {
  if (CMainFrame* frame = application_.main_frame()) frame->ShowPanel();
}

void Win32UserInterface::MinimisePanel() {
  if (CMainFrame* frame = application_.main_frame()) frame->MinimisePanel();
}

}  // namespace halvorn::panel

#include "panel/win32/win32_user_interface.h"

namespace halvorn::panel {

void Win32UserInterface::ShowError(const char* text) {
  MessageBoxA(nullptr, text, kMessageTitle, MB_OK | MB_ICONERROR);
}

void Win32UserInterface::SetCheck(int control_id, bool marked) {
  if (dialog_) CheckDlgButton(dialog_, control_id, marked ? BST_CHECKED : BST_UNCHECKED);
}

int Win32UserInterface::GetCheck(int control_id) {
  return dialog_ ? static_cast<int>(IsDlgButtonChecked(dialog_, control_id)) : 0;
}

void Win32UserInterface::Enable(int control_id, bool enabled) {
  if (dialog_) EnableWindow(GetDlgItem(dialog_, control_id), enabled);
}

void Win32UserInterface::SetText(int control_id, const char* text) {
  if (dialog_) SetDlgItemTextA(dialog_, control_id, text);
}

void Win32UserInterface::BeginWaitCursor() { saved_cursor_ = SetCursor(LoadCursor(nullptr, IDC_WAIT)); }

void Win32UserInterface::EndWaitCursor() { SetCursor(saved_cursor_); }

void Win32UserInterface::StartStatusTimer() {}
void Win32UserInterface::StopStatusTimer() {}
void Win32UserInterface::ShowPanel() {}
void Win32UserInterface::MinimisePanel() {}

}  // namespace halvorn::panel

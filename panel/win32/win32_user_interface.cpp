#include "panel/win32/win32_user_interface.h"

#include <string>

#include "panel/control_ids.h"
#include "panel/win32/message_box.h"

namespace halvorn::panel {

HWND Win32UserInterface::dialog_window() const {
  CMainFrame* main_frame = frame();
  return main_frame != nullptr ? main_frame->control_dialog().hwnd() : nullptr;
}

HWND Win32UserInterface::control(int control_id) const {
  CMainFrame* main_frame = frame();
  return main_frame != nullptr ? main_frame->control_dialog().Control(control_id) : nullptr;
}

void Win32UserInterface::PreparePanel() {
  thread_.Post([this] { application_.Start(); });
}

void Win32UserInterface::ShowError(const char* text) {
  // Shown by the caller itself when the window thread cannot take it soon.
  if (!thread_.Call([this, text] { thread_.ShowMessage(text); })) ShowMessage(text);
}

void Win32UserInterface::ShowNotice(const char* text) {
  thread_.Post([this, message = std::string(text)] { thread_.ShowMessage(message.c_str()); });
}

void Win32UserInterface::SetCheck(int control_id, bool marked) {
  thread_.PostIfRunning([this, control_id, marked] {
    if (const HWND button = control(control_id)) {
      SendMessageA(button, BM_SETCHECK, marked ? BST_CHECKED : BST_UNCHECKED, 0);
    }
  });
}

// Asked only by the dialog's handlers, on the window thread.
int Win32UserInterface::GetCheck(int control_id) {
  const HWND button = control(control_id);
  return button != nullptr ? static_cast<int>(SendMessageA(button, BM_GETCHECK, 0, 0)) : BST_UNCHECKED;
}

void Win32UserInterface::Enable(int control_id, bool enabled) {
  thread_.PostIfRunning([this, control_id, enabled] {
    if (const HWND item = control(control_id)) EnableWindow(item, enabled ? TRUE : FALSE);
  });
}

void Win32UserInterface::SetText(int control_id, const char* text) {
  thread_.PostIfRunning([this, control_id, shown = std::string(text)] {
    if (const HWND item = control(control_id)) SetWindowTextA(item, shown.c_str());
  });
}

// The wait cursor is for the user's own clicks, on the window thread.
void Win32UserInterface::BeginWaitCursor() { saved_cursor_ = SetCursor(LoadCursorA(nullptr, IDC_WAIT)); }

void Win32UserInterface::EndWaitCursor() { SetCursor(saved_cursor_); }

void Win32UserInterface::StartStatusTimer() {
  thread_.PostIfRunning([this] {
    if (const HWND window = dialog_window()) SetTimer(window, kStatusTimerId, kStatusTimerPeriodMs, nullptr);
  });
}

void Win32UserInterface::StopStatusTimer() {
  thread_.PostIfRunning([this] {
    if (const HWND window = dialog_window()) KillTimer(window, kStatusTimerId);
  });
}

void Win32UserInterface::ShowPanel() {
  thread_.PostIfRunning([this] {
    if (CMainFrame* main_frame = frame()) main_frame->ShowPanel();
  });
}

void Win32UserInterface::MinimisePanel() {
  thread_.PostIfRunning([this] {
    if (CMainFrame* main_frame = frame()) main_frame->MinimisePanel();
  });
}

void Win32UserInterface::SwitchPanel() {
  thread_.PostIfRunning([this] {
    if (CMainFrame* main_frame = frame()) main_frame->SwitchPanel();
  });
}

}  // namespace halvorn::panel

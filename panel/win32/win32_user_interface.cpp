#include "panel/win32/win32_user_interface.h"

#include <string>

#include "panel/control_ids.h"
#include "panel/win32/message_box.h"

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

void Win32UserInterface::OnWindowThread(std::function<void()> work) {
  const HWND window = dialog_window();
  if (window == nullptr) return;
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    work();
    return;
  }
  work_.Push(std::move(work));
  PostMessageA(window, kRunQueuedWork, 0, 0);
}

void Win32UserInterface::PreparePanel() { application_.Start(); }

void Win32UserInterface::ShowError(const char* text) { ShowMessage(text); }

void Win32UserInterface::ShowNotice(const char* text) {
  const HWND window = dialog_window();
  if (window == nullptr) return;
  work_.Push([message = std::string(text)] { ShowMessage(message.c_str()); });
  PostMessageA(window, kRunQueuedWork, 0, 0);
}

void Win32UserInterface::SetCheck(int control_id, bool marked) {
  OnWindowThread([this, control_id, marked] {
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
  OnWindowThread([this, control_id, enabled] {
    if (const HWND item = control(control_id)) EnableWindow(item, enabled ? TRUE : FALSE);
  });
}

void Win32UserInterface::SetText(int control_id, const char* text) {
  OnWindowThread([this, control_id, shown = std::string(text)] {
    if (const HWND item = control(control_id)) SetWindowTextA(item, shown.c_str());
  });
}

void Win32UserInterface::BeginWaitCursor() { saved_cursor_ = SetCursor(LoadCursorA(nullptr, IDC_WAIT)); }

void Win32UserInterface::EndWaitCursor() { SetCursor(saved_cursor_); }

void Win32UserInterface::StartStatusTimer() {
  OnWindowThread([this] {
    if (const HWND window = dialog_window()) SetTimer(window, kStatusTimerId, kStatusTimerPeriodMs, nullptr);
  });
}

void Win32UserInterface::StopStatusTimer() {
  OnWindowThread([this] {
    if (const HWND window = dialog_window()) KillTimer(window, kStatusTimerId);
  });
}

void Win32UserInterface::ShowPanel() {
  OnWindowThread([this] {
    if (CMainFrame* frame = application_.main_frame()) frame->ShowPanel();
  });
}

void Win32UserInterface::MinimisePanel() {
  OnWindowThread([this] {
    if (CMainFrame* frame = application_.main_frame()) frame->MinimisePanel();
  });
}

void Win32UserInterface::SwitchPanel() {
  OnWindowThread([this] {
    if (CMainFrame* frame = application_.main_frame()) frame->SwitchPanel();
  });
}

}  // namespace halvorn::panel

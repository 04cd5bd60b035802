#include "panel/win32/window.h"

#include "panel/win32/dialog.h"

namespace halvorn::win {

bool Window::DestroyFromAnyThread() {
  const HWND window = hwnd();
  if (window == nullptr) return false;
  if (!IsWindow(window)) {
    // Destroyed with the thread that owned it.
    Detach();
    return false;
  }
  // Cut loose first: the module is going, and its procedures must not be
  // entered again, not even by the messages destruction sends.
  Abandon();
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    DestroyWindow(window);
    return false;
  }
  // Closed by the default procedure, on the window's own thread.
  PostMessageA(window, WM_CLOSE, 0, 0);
  return true;
}

void Window::Detach() {
  Attach(nullptr);
  OnDetached();
}

bool Window::Dispatch(UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  try {
    return OnMessage(message, wparam, lparam);
  } catch (...) {
    return true;
  }
}

void Window::AbandonChildDialogs(HWND parent) { EnumChildWindows(parent, &Window::AbandonIfDialog, 0); }

BOOL CALLBACK Window::AbandonIfDialog(HWND child, LPARAM /*unused*/) {
  if (Dialog* dialog = Dialog::FromHandle(child)) dialog->Abandon();
  return TRUE;
}

}  // namespace halvorn::win

#include "panel/win32/window.h"

#include "panel/win32/dialog.h"

namespace halvorn::win {

void Window::DestroyFromAnyThread() {
  const HWND window = hwnd();
  if (window == nullptr) return;
  if (!IsWindow(window)) {
    // Destroyed with the thread that owned it.
    Detach();
    return;
  }
  if (GetWindowThreadProcessId(window, nullptr) == GetCurrentThreadId()) {
    DestroyWindow(window);
  } else {
    DWORD_PTR unused = 0;
    SendMessageTimeoutA(window, kDestroyRequest, 0, 0, SMTO_NORMAL | SMTO_ABORTIFHUNG,
                        kDestroyRequestTimeoutMs, &unused);
  }
  if (hwnd() != nullptr) Abandon();
}

void Window::Detach() {
  Attach(nullptr);
  OnDetached();
}

bool Window::Dispatch(UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  try {
    if (message == kDestroyRequest) {
      DestroyWindow(hwnd());
      return true;
    }
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

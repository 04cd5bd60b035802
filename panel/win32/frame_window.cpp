#include "panel/win32/frame_window.h"

namespace halvorn::win {

bool FrameWindow::Create(HINSTANCE instance, const std::string& class_name, const char* caption, DWORD style,
                         DWORD extended_style, const RECT& rect) {
  if (class_name.empty()) return false;
  return CreateWindowExA(extended_style, class_name.c_str(), caption, style, rect.left, rect.top,
                         rect.right - rect.left, rect.bottom - rect.top, nullptr, nullptr, instance,
                         this) != nullptr;
}

ModuleDoor::Entry FrameWindow::DoorEntry() {
  const void* default_procedure =
      reinterpret_cast<const void*>(GetProcAddress(GetModuleHandleA("user32.dll"), "DefWindowProcA"));
  return {reinterpret_cast<const void*>(&FrameWindow::Procedure), 16, ModuleDoor::Way::kHoldingTheModule, 0,
          default_procedure};
}

LRESULT CALLBACK FrameWindow::Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    auto* self = static_cast<FrameWindow*>(reinterpret_cast<CREATESTRUCTA*>(lparam)->lpCreateParams);
    SetWindowLongPtrA(hwnd, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(self));
    self->Attach(hwnd);
    return DefWindowProcA(hwnd, message, wparam, lparam);
  }
  auto* self = reinterpret_cast<FrameWindow*>(GetWindowLongPtrA(hwnd, GWLP_USERDATA));
  if (self == nullptr) return DefWindowProcA(hwnd, message, wparam, lparam);
  switch (message) {
    case WM_NCDESTROY:
      SetWindowLongPtrA(hwnd, GWLP_USERDATA, 0);
      self->Detach();
      return DefWindowProcA(hwnd, message, wparam, lparam);
    case WM_SETFOCUS:
      if (const HWND content = GetWindow(hwnd, GW_CHILD)) {
        SetFocus(content);
        return 0;
      }
      break;
    case WM_SIZE:
      // A minimised frame keeps the focus to itself (no child of it can
      // take it); restored, it hands it on.
      if (wparam != SIZE_MINIMIZED && GetFocus() == hwnd) {
        if (const HWND content = GetWindow(hwnd, GW_CHILD)) SetFocus(content);
      }
      break;
    default:
      if (self->Dispatch(message, wparam, lparam)) return 0;
      break;
  }
  return DefWindowProcA(hwnd, message, wparam, lparam);
}

}  // namespace halvorn::win

#include "panel/win32/application.h"

#include <cstdio>

#include "panel/win32/frame_window.h"

namespace halvorn::win {

std::string Application::RegisterFrameClass(UINT style, HCURSOR cursor, HBRUSH background, HICON icon) {
  // Named after this load of the module and the attributes, so a class that
  // an earlier load could not take back is never taken for ours.
  char name[96];
  std::snprintf(name, sizeof name, "Halvorn:%p:%x:%p:%p:%p",
                door_ != nullptr ? door_->Identity() : static_cast<const void*>(instance_), style,
                static_cast<void*>(cursor), static_cast<void*>(background), static_cast<void*>(icon));

  WNDCLASSA existing{};
  if (GetClassInfoA(instance_, name, &existing)) return name;

  WNDCLASSA window_class{};
  window_class.style = style;
  window_class.lpfnWndProc = ThroughDoor(door_, &FrameWindow::Procedure);
  window_class.hInstance = instance_;
  window_class.hIcon = icon;
  window_class.hCursor = cursor;
  window_class.hbrBackground = background;
  window_class.lpszClassName = name;
  const ATOM atom = RegisterClassA(&window_class);
  if (atom == 0) {
    if (background != nullptr) DeleteObject(background);
    return {};
  }
  if (door_ != nullptr) door_->RecordWindowClass(atom);
  registered_classes_.push_back({name, atom});
  return name;
}

bool Application::Start() {
  if (const Window* window = main_window(); window != nullptr && window->hwnd() != nullptr) return true;
  DestroyMainWindow();
  return InitInstance();
}

int Application::ExitInstance() {
  for (const RegisteredClass& registered : registered_classes_) {
    if (door_ != nullptr) door_->ForgetWindowClass(registered.atom);
    UnregisterClassA(registered.name.c_str(), instance_);
  }
  registered_classes_.clear();
  return 0;
}

void Application::SetMainWindow(std::unique_ptr<Window> window) {
  main_window_ = std::move(window);
  if (door_ != nullptr && main_window_->hwnd() != nullptr) door_->RecordWindow(main_window_->hwnd());
}

void Application::DestroyMainWindow() {
  if (main_window_ == nullptr) return;
  if (const HWND window = main_window_->hwnd()) {
    if (door_ != nullptr) door_->ForgetWindow(window);
    DestroyWindow(window);
  }
  main_window_.reset();
}

}  // namespace halvorn::win

#include "panel/win32/application.h"

#include <cstdio>

#include "panel/win32/frame_window.h"

namespace halvorn::win {

std::string Application::RegisterFrameClass(UINT style, HCURSOR cursor, HBRUSH background, HICON icon) {
  // Named after its attributes, so a class left behind by an earlier load of
  // the module (see Window::DestroyFromAnyThread) is never taken for ours.
  char name[96];
  std::snprintf(name, sizeof name, "Halvorn:%p:%x:%p:%p:%p", static_cast<void*>(instance_), style,
                static_cast<void*>(cursor), static_cast<void*>(background), static_cast<void*>(icon));

  WNDCLASSA existing{};
  if (GetClassInfoA(instance_, name, &existing)) return name;

  WNDCLASSA window_class{};
  window_class.style = style;
  window_class.lpfnWndProc = door_ != nullptr ? door_->Into(&FrameWindow::Procedure) : &FrameWindow::Procedure;
  window_class.hInstance = instance_;
  window_class.hIcon = icon;
  window_class.hCursor = cursor;
  window_class.hbrBackground = background;
  window_class.lpszClassName = name;
  if (RegisterClassA(&window_class) == 0) {
    if (background != nullptr) DeleteObject(background);
    return {};
  }
  registered_classes_.emplace_back(name);
  return name;
}

bool Application::Start() {
  std::lock_guard lock(start_mutex_);
  // A window can go with its thread without telling its object.
  if (const Window* window = main_window(); window != nullptr && IsWindow(window->hwnd())) return true;
  DestroyMainWindow();
  return InitInstance();
}

int Application::ExitInstance() {
  if (!windows_left_behind_) {
    for (const std::string& name : registered_classes_) UnregisterClassA(name.c_str(), instance_);
  }
  registered_classes_.clear();
  return 0;
}

void Application::SetMainWindow(std::unique_ptr<Window> window) {
  main_window_owner_ = std::move(window);
  main_window_.store(main_window_owner_.get(), std::memory_order_release);
}

void Application::DestroyMainWindow() {
  main_window_.store(nullptr, std::memory_order_release);
  if (main_window_owner_ == nullptr) return;
  if (main_window_owner_->DestroyFromAnyThread()) windows_left_behind_ = true;
  main_window_owner_.reset();
}

}  // namespace halvorn::win

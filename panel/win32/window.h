// The window objects of the panel's small frame-and-dialog layer: a C++ object
// attached to one window handle, whose messages reach it through its message
// map. The object may outlive its window, never the other way round: every
// window is destroyed on the window thread before its object goes.
#pragma once

#include <windows.h>

namespace halvorn::win {

class Window {
 public:
  Window() = default;
  virtual ~Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Null before the window is created and after it is destroyed.
  HWND hwnd() const { return hwnd_; }

 protected:
  // The window's message map; false lets the default processing run.
  virtual bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam) = 0;

  void Attach(HWND hwnd) { hwnd_ = hwnd; }
  void Detach() { hwnd_ = nullptr; }
  // Runs the message map, keeping every exception out of the system's
  // message dispatch and so out of the host.
  bool Dispatch(UINT message, WPARAM wparam, LPARAM lparam) noexcept;

 private:
  HWND hwnd_ = nullptr;
};

}  // namespace halvorn::win

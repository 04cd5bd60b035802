// The window objects of the panel's small frame-and-dialog layer: a C++ object
// attached to one window handle, whose messages reach it through its message
// map. The object may outlive its window; a window that has to outlive its
// object is first cut loose from it (Abandon).
#pragma once

#include <windows.h>

#include <atomic>

namespace halvorn::win {

class Window {
 public:
  Window() = default;
  virtual ~Window() = default;
  Window(const Window&) = delete;
  Window& operator=(const Window&) = delete;

  // Null before the window is created and after it is destroyed.
  HWND hwnd() const { return hwnd_.load(std::memory_order_acquire); }

  // For a module that is going: cuts the window loose from this object and
  // the module, then destroys it on the thread that owns it, as only that
  // thread may. From any other thread, which must not wait for the owner (it
  // may be waiting for the caller), the window is asked to close, which its
  // own thread then does without the module. Afterwards the object can be
  // deleted. True when the window was left to its thread.
  bool DestroyFromAnyThread();

 protected:
  // The window's message map; false lets the default processing run.
  virtual bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam) = 0;
  // The window handed over its last message.
  virtual void OnDetached() {}
  // Cuts the window loose: no procedure, hook or pointer of this module is
  // left in it, it is hidden, and this object forgets it.
  virtual void Abandon() = 0;

  void Attach(HWND hwnd) { hwnd_.store(hwnd, std::memory_order_release); }
  void Detach();
  // Runs the message map, keeping every exception out of the system's
  // message dispatch and so out of the host.
  bool Dispatch(UINT message, WPARAM wparam, LPARAM lparam) noexcept;

  // Abandons the framework's dialogs among this window's children.
  static void AbandonChildDialogs(HWND parent);

 private:
  static BOOL CALLBACK AbandonIfDialog(HWND child, LPARAM unused);

  // Written on the window's thread, read by whichever thread unloads.
  std::atomic<HWND> hwnd_{nullptr};
};

}  // namespace halvorn::win

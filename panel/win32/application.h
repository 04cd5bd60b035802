// The application object of the panel's frame-and-dialog layer: started on
// the thread that loads the module and stopped when the module is unloaded.
// It owns the main window object, which is how the rest of the module finds
// the panel, and the window classes registered for it.
#pragma once

#include <windows.h>

#include <atomic>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "panel/win32/window.h"
#include "ports/win32/module_door.h"

namespace halvorn::win {

class Application {
 public:
  // Window procedures are entered through `door` when there is one.
  Application(HINSTANCE instance, ModuleDoor* door) : instance_(instance), door_(door) {}
  virtual ~Application() = default;
  Application(const Application&) = delete;
  Application& operator=(const Application&) = delete;

  HINSTANCE instance() const { return instance_; }
  ModuleDoor* door() const { return door_; }
  // The windows were cut loose rather than destroyed at exit: their thread
  // closes them later, without the module.
  bool windows_left_behind() const { return windows_left_behind_; }
  // Null before application start, after application exit, and when no main
  // window object could be made.
  Window* main_window() const { return main_window_.load(std::memory_order_acquire); }

  // Application start, on the first thread that needs the windows, never
  // while the module loads: windows made under the loader lock can wait for a
  // thread that waits for that lock. Starts again when the windows went with
  // the thread that owned them; otherwise does nothing.
  bool Start();
  // Application exit, at unload.
  int Stop() { return ExitInstance(); }

  // Registers a window class for frames with these attributes, once per
  // attribute set, and returns its name, or "" when it cannot be registered.
  // The brush belongs to the class from then on (and is deleted here when
  // there is no class to take it). Unregistered at application exit.
  std::string RegisterFrameClass(UINT style, HCURSOR cursor, HBRUSH background, HICON icon);

 protected:
  virtual bool InitInstance() = 0;
  // Unregisters the window classes (unless windows of them were left
  // behind); returns the module's exit code, 0.
  virtual int ExitInstance();

  void SetMainWindow(std::unique_ptr<Window> window);
  // From here on nothing finds the main window; its window is destroyed (from
  // whichever thread unloads) and the object deleted.
  void DestroyMainWindow();

 private:
  HINSTANCE instance_;
  ModuleDoor* door_;
  bool windows_left_behind_ = false;
  std::mutex start_mutex_;  // host threads may need the windows at once
  std::unique_ptr<Window> main_window_owner_;
  std::atomic<Window*> main_window_{nullptr};
  std::vector<std::string> registered_classes_;
};

}  // namespace halvorn::win

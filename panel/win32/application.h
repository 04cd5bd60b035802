// The application object of the panel's frame-and-dialog layer: started on
// the plug-in's window thread when the panel is first needed, and stopped
// there at the unload. It owns the main window object, which is how the rest
// of the module finds the panel, and the window classes registered for it.
// Window thread only.
#pragma once

#include <windows.h>

#include <memory>
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
  // Null before application start, after application exit, and when no main
  // window object could be made.
  Window* main_window() const { return main_window_.get(); }

  // Application start; again after a start that made no window, otherwise
  // nothing.
  bool Start();
  // Application exit.
  int Stop() { return ExitInstance(); }

  // Registers a window class for frames with these attributes, once per
  // attribute set, and returns its name, or "" when it cannot be registered.
  // The brush belongs to the class from then on (and is deleted here when
  // there is no class to take it). Unregistered at application exit.
  std::string RegisterFrameClass(UINT style, HCURSOR cursor, HBRUSH background, HICON icon);

 protected:
  virtual bool InitInstance() = 0;
  // Unregisters the window classes; returns the module's exit code, 0.
  // What the module has not taken down itself when it goes, the door does
  // (ModuleDoor::RecordWindow), so each window and class is told to it.
  virtual int ExitInstance();

  void SetMainWindow(std::unique_ptr<Window> window);
  // Destroys the main window and deletes its object.
  void DestroyMainWindow();

 private:
  HINSTANCE instance_;
  ModuleDoor* door_;
  std::unique_ptr<Window> main_window_;
  struct RegisteredClass {
    std::string name;
    ATOM atom;
  };
  std::vector<RegisteredClass> registered_classes_;
};

}  // namespace halvorn::win

// The plug-in module as Windows loads it: the portable module with the window
// system added, created when the DLL is attached and destroyed when it is
// detached. Loading makes no window and starts no thread: the panel is made,
// on the plug-in's own window thread, when an entry point first shows it.
// Every way into the module goes through its door, so the unload, whatever
// thread it comes on, finds no host thread inside: it ends the window thread
// (the panel goes with it), ends the stream and the recording, leaves the
// device library to be stopped, closed and released from the door once the
// loader's lock is free, and closes the door once the module's own threads
// are out, before anything of the module goes.
#pragma once

#include <memory>

// The core's headers come before <windows.h>, which defines `cdecl` away and
// with it the host callback's calling-convention attribute.
#include "device/library_loader.h"
#include "plugin/module.h"
#include "ports/platform_kit.h"

#include "panel/win32/extio_halvorn_app.h"
#include "panel/win32/win32_user_interface.h"
#include "panel/win32/window_thread.h"
#include "ports/win32/module_door.h"

namespace halvorn {

class Win32Module {
 public:
  explicit Win32Module(HINSTANCE instance);
  ~Win32Module();
  Win32Module(const Win32Module&) = delete;
  Win32Module& operator=(const Win32Module&) = delete;

  Module& module() { return *module_; }

  // Null outside the module's lifetime and once its unload has begun.
  static Win32Module* Instance();

  static void Attach(HINSTANCE instance);
  static void Detach();
  // The process is ending: the recording is finished, nothing else is touched.
  static void DetachAtProcessExit();

 private:
  std::unique_ptr<win::ModuleDoor> door_;
  std::unique_ptr<device::LibraryLoader> loader_;
  std::unique_ptr<PlatformKit> kit_;
  win::WindowThread window_thread_;
  // Finds the panel's windows through the application object below, which
  // needs the module's panel logic and so comes after it.
  panel::Win32UserInterface ui_;
  std::unique_ptr<Module> module_;
  panel::CExtIO_halvornApp application_;
};

}  // namespace halvorn

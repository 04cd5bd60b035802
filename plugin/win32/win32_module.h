// The plug-in module as Windows loads it: the portable module with the
// window system added, created when the DLL is attached and destroyed when it
// is detached. Creating it starts the application object, which builds the
// control panel on the loading thread; destroying it stops the stream, takes
// the panel down and then lets the module go.
#pragma once

#include <memory>

// The core's headers come before <windows.h>, which defines `cdecl` away and
// with it the host callback's calling-convention attribute.
#include "device/library_loader.h"
#include "plugin/module.h"
#include "streaming/stream_resources.h"

#include "panel/win32/extio_halvorn_app.h"
#include "panel/win32/win32_user_interface.h"

namespace halvorn {

class Win32Module {
 public:
  explicit Win32Module(HINSTANCE instance);
  ~Win32Module();
  Win32Module(const Win32Module&) = delete;
  Win32Module& operator=(const Win32Module&) = delete;

  Module& module() { return module_; }

  // Null outside the module's lifetime.
  static Win32Module* Instance();
  static void Attach(HINSTANCE instance);
  static void Detach();
  // The process is ending: the recording is finished, nothing else is touched.
  static void DetachAtProcessExit();

 private:
  std::unique_ptr<device::LibraryLoader> loader_;
  std::unique_ptr<streaming::StreamResources> stream_resources_;
  win::WindowThreadWork work_;
  // Finds the panel's windows through the application object below, which
  // needs the module's panel logic and so comes after it.
  panel::Win32UserInterface ui_;
  Module module_;
  panel::CExtIO_halvornApp application_;
};

}  // namespace halvorn

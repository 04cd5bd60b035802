// The plug-in module as Windows loads it: the one object that owns all
// module-wide state, created when the DLL is attached and destroyed when it
// is detached.
#pragma once

#include <memory>

#include "device/library_loader.h"
#include "panel/control_panel.h"
#include "panel/win32/win32_user_interface.h"
#include "plugin/plugin.h"
#include "streaming/stream_resources.h"

namespace halvorn {

class Win32Module {
 public:
  Win32Module();
  ~Win32Module();

  Plugin& plugin() { return plugin_; }

  // Null outside the module's lifetime.
  static Win32Module* Instance();
  static void Attach();
  static void Detach();

 private:
  std::unique_ptr<device::LibraryLoader> loader_;
  std::unique_ptr<streaming::StreamResources> stream_resources_;
  panel::Win32UserInterface ui_;
  Plugin plugin_;
  std::unique_ptr<panel::ControlPanel> panel_;
};

}  // namespace halvorn

// The module's application object: when the panel is first needed it builds
// it (the frame with the control dialog inside, hidden), at unload it takes it
// down. On the plug-in's window thread.
#pragma once

#include "panel/win32/main_frame.h"

#include "panel/win32/application.h"

namespace halvorn::panel {

class CExtIO_halvornApp final : public win::Application {
 public:
  CExtIO_halvornApp(HINSTANCE instance, win::ModuleDoor* door, ControlPanel& panel)
      : win::Application(instance, door), panel_(panel) {}

  // The panel; null outside the module's lifetime.
  CMainFrame* main_frame() const { return static_cast<CMainFrame*>(main_window()); }

 protected:
  bool InitInstance() override;
  int ExitInstance() override;

 private:
  ControlPanel& panel_;
};

}  // namespace halvorn::panel

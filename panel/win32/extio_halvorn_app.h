// The module's application object: at load it builds the control panel (the
// frame with the control dialog inside, hidden), at unload it takes it down.
#pragma once

#include "panel/win32/main_frame.h"

#include "panel/win32/application.h"

namespace halvorn::panel {

class CExtIO_halvornApp final : public win::Application {
 public:
  CExtIO_halvornApp(HINSTANCE instance, win::ModuleDoor* door, ControlPanel& panel, win::WindowThreadWork& work)
      : win::Application(instance, door), panel_(panel), work_(work) {}

  // The panel; null outside the module's lifetime.
  CMainFrame* main_frame() const { return static_cast<CMainFrame*>(main_window()); }

 protected:
  bool InitInstance() override;
  int ExitInstance() override;

 private:
  ControlPanel& panel_;
  win::WindowThreadWork& work_;
};

}  // namespace halvorn::panel

#include "panel/win32/extio_halvorn_app.h"

#include <memory>

namespace halvorn::panel {

bool CExtIO_halvornApp::InitInstance() {
  auto frame = std::make_unique<CMainFrame>(panel_);
  CMainFrame& panel = *frame;
  panel.CreatePanel(*this);
  SetMainWindow(std::move(frame));
  if (const HWND window = panel.hwnd()) {
    ShowWindow(window, SW_HIDE);
    UpdateWindow(window);
  }
  return true;
}

int CExtIO_halvornApp::ExitInstance() {
  DestroyMainWindow();
  return win::Application::ExitInstance();
}

}  // namespace halvorn::panel

#include "host/window_system.h"

#include <windows.h>

namespace halvorn::host {

void StartWindowSystem() {
  GetDesktopWindow();
  const HWND window = CreateWindowExA(0, "STATIC", "", WS_POPUP, 0, 0, 1, 1, nullptr, nullptr,
                                      GetModuleHandleA(nullptr), nullptr);
  if (window != nullptr) DestroyWindow(window);
}

}  // namespace halvorn::host

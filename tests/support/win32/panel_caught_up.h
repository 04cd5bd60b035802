// What a host asked of the plug-in's panel is done on the plug-in's own
// window thread, after the call has returned. A test that then looks at the
// panel first lets that thread catch up.
#pragma once

#include <windows.h>

#include <cstring>
#include <vector>

namespace halvorn::testing {

// Returns once the plug-in's window thread has done everything asked of it
// so far; false when it did not answer, or did not start within
// `start_within_ms`. It is asked through the window that takes its queued
// work, as the plug-in itself asks it.
inline bool PanelCaughtUp(DWORD start_within_ms = 5000) {
  constexpr UINT kRunQueuedWork = WM_APP + 0x102;
  constexpr UINT kAnswerWithinMs = 10000;
  std::vector<HWND> work_windows;
  const ULONGLONG deadline = GetTickCount64() + start_within_ms;
  while (work_windows.empty()) {
    for (HWND window = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); window != nullptr;
         window = FindWindowExA(HWND_MESSAGE, window, nullptr, nullptr)) {
      DWORD process = 0;
      GetWindowThreadProcessId(window, &process);
      char class_name[32] = {};
      GetClassNameA(window, class_name, sizeof class_name);
      if (process == GetCurrentProcessId() && std::strncmp(class_name, "Halvorn work:", 13) == 0) {
        work_windows.push_back(window);
      }
    }
    if (work_windows.empty()) {
      if (GetTickCount64() >= deadline) return false;
      Sleep(5);
    }
  }
  bool answered = true;
  for (HWND window : work_windows) {
    DWORD_PTR result = 0;
    answered =
        SendMessageTimeoutA(window, kRunQueuedWork, 0, 0, SMTO_NORMAL, kAnswerWithinMs, &result) != 0 && answered;
  }
  return answered;
}

}  // namespace halvorn::testing

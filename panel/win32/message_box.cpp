#include "panel/win32/message_box.h"

#include <cstring>

namespace halvorn::panel {
namespace {

BOOL CALLBACK CloseIfOurMessage(HWND window, LPARAM /*unused*/) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId()) return TRUE;
  char class_name[16] = {};
  char title[64] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  GetWindowTextA(window, title, sizeof title);
  if (std::strcmp(class_name, "#32770") == 0 && std::strcmp(title, kMessageTitle) == 0) {
    PostMessageA(window, WM_COMMAND, IDOK, 0);
  }
  return TRUE;
}

}  // namespace

void ShowMessage(const char* text) { MessageBoxA(nullptr, text, kMessageTitle, MB_OK | MB_ICONERROR | MB_TASKMODAL); }

void CloseOpenMessages() { EnumWindows(&CloseIfOurMessage, 0); }

}  // namespace halvorn::panel

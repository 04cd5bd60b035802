#include "panel/win32/message_box.h"

namespace halvorn::panel {

void ShowMessage(const char* text) { MessageBoxA(nullptr, text, kMessageTitle, MB_OK | MB_ICONERROR | MB_TASKMODAL); }

}  // namespace halvorn::panel

// The plug-in's one kind of message: a modal box with the error icon and the
// plug-in's title.
#pragma once

#include <windows.h>

#include "ports/user_interface.h"

namespace halvorn::panel {

inline void ShowMessage(const char* text) { MessageBoxA(nullptr, text, kMessageTitle, MB_OK | MB_ICONERROR); }

}  // namespace halvorn::panel

// The plug-in's one kind of message, shown on the calling thread where the
// window thread cannot show it (WindowThread::ShowMessage): a modal box with
// the error icon and the plug-in's title. Task-modal: while it is open the
// calling thread's windows take no input.
#pragma once

#include <windows.h>

#include "ports/user_interface.h"

namespace halvorn::panel {

void ShowMessage(const char* text);

}  // namespace halvorn::panel

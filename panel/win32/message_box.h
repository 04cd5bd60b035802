// The plug-in's one kind of message: a modal box with the error icon and the
// plug-in's title. Task-modal: while it is open every window of its thread,
// the host's included, takes no input, so a host cannot be closed (and the
// plug-in unloaded) from inside the box's own message loop.
#pragma once

#include <windows.h>

#include "ports/user_interface.h"

namespace halvorn::panel {

void ShowMessage(const char* text);

}  // namespace halvorn::panel

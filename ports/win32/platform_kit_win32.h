// The platform's kit on Windows, with the module's door when there is one:
// worker threads start and end through it, so none is ever caught in the
// module's code as it goes.
#pragma once

#include <memory>

#include "ports/platform_kit.h"
#include "ports/win32/module_door.h"

namespace halvorn::win {

// `door` may be null, and outlives the kit.
std::unique_ptr<PlatformKit> MakeWin32PlatformKit(ModuleDoor* door);

// The way into the module the kit's threads need from the door.
ModuleDoor::Entry PlatformKitDoorEntry();

}  // namespace halvorn::win

// The Windows library loader of a module guarded by a door: a library given
// up at the module's unload is stopped, closed and released from the door
// after the loader's lock is free, and the next load in this process waits
// for that to be over, so the release never closes a receiver a new load of
// the module has just opened.
#pragma once

#include <memory>

#include "device/library_loader.h"
#include "ports/win32/module_door.h"

namespace halvorn::device {

// `door` may be null (the release then happens at once) and outlives the loader.
std::unique_ptr<LibraryLoader> MakeWin32LibraryLoader(const char* search_directory, win::ModuleDoor* door);

}  // namespace halvorn::device

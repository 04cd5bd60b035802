// The stream's platform pieces on Windows, with the module's door when there
// is one: the delivery thread starts, calls the host and ends through it, and
// the device library calls the transfer callback through it, so none of them
// is ever caught in the module's code as it goes.
#pragma once

#include <memory>
#include <vector>

#include "ports/win32/module_door.h"
#include "streaming/stream_resources.h"

namespace halvorn::streaming {

// `door` may be null, and outlives the resources.
std::unique_ptr<StreamResources> MakeWin32StreamResources(win::ModuleDoor* door);

// The ways into the module the stream needs from the door.
std::vector<win::ModuleDoor::Entry> StreamDoorEntries();

}  // namespace halvorn::streaming

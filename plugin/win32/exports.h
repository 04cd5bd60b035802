// The entry points' ways in through the module's door.
#pragma once

#include <vector>

#include "ports/win32/module_door.h"

namespace halvorn {

std::vector<win::ModuleDoor::Entry> EntryPointDoorEntries();
// From here on every exported name comes in through `door`.
void EnterEntryPointsThrough(const win::ModuleDoor& door);

}  // namespace halvorn

// HALVORNSIM_MISSING on Windows: the listed entries are taken out of the
// library's export table as it loads, so GetProcAddress finds no such entry,
// as with a library version that lacks them.
#pragma once

#include <windows.h>

namespace halvorn::simulator {

// Zeroes the export address of every entry named in `list`.
void HideExports(HMODULE library, const char* list);

}  // namespace halvorn::simulator

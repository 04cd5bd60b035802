#include "simulator/hidden_exports.h"

#include "simulator/settings.h"

namespace halvorn::simulator {

void HideExports(HMODULE library, const char* list) {
  auto* base = reinterpret_cast<BYTE*>(library);
  const auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
  const auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS*>(base + dos->e_lfanew);
  const IMAGE_DATA_DIRECTORY& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_EXPORT];
  if (directory.VirtualAddress == 0) return;
  const auto* exports = reinterpret_cast<const IMAGE_EXPORT_DIRECTORY*>(base + directory.VirtualAddress);
  auto* addresses = reinterpret_cast<DWORD*>(base + exports->AddressOfFunctions);
  const auto* names = reinterpret_cast<const DWORD*>(base + exports->AddressOfNames);
  const auto* ordinals = reinterpret_cast<const WORD*>(base + exports->AddressOfNameOrdinals);
  for (DWORD i = 0; i < exports->NumberOfNames; ++i) {
    const char* name = reinterpret_cast<const char*>(base + names[i]);
    if (!ListContains(list, name) || ordinals[i] >= exports->NumberOfFunctions) continue;
    DWORD* address = &addresses[ordinals[i]];
    DWORD protection = 0;
    // The table lies in a read-only section.
    if (!VirtualProtect(address, sizeof *address, PAGE_READWRITE, &protection)) continue;
    *address = 0;
    VirtualProtect(address, sizeof *address, protection, &protection);
  }
}

}  // namespace halvorn::simulator

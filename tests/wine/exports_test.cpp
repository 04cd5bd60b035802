#include <string>

#include "tests/wine/plugin_fixture.h"

namespace halvorn::wine_tests {
namespace {

using ExportsTest = PluginTest;

// The thirteen every host knows and the nine extended ones; no settings
// entry points, as nothing is kept between loads.
TEST_F(ExportsTest, TwentyTwoEntryPointsResolveByBothNamesToOneAddress) {
  const auto& entries = plugin_->entries();
  ASSERT_EQ(entries.size(), 22u);
  for (const char* name : {"ExtIoGetSrates", "ExtIoGetActualSrateIdx", "ExtIoSetSrate", "ExtIoGetBandwidth",
                           "GetAttenuators", "GetActualAttIdx", "SetAttenuator", "VersionInfo", "SwitchGUI"}) {
    EXPECT_TRUE(plugin_->Provides(name)) << name;
  }
  for (const char* name : {"ExtIoGetSetting", "ExtIoSetSetting"}) {
    EXPECT_EQ(GetProcAddress(plugin_->module(), name), nullptr) << name;
  }
  for (const auto& entry : entries) {
    EXPECT_NE(entry.plain_address, nullptr) << entry.name;
    EXPECT_EQ(entry.plain_address, entry.decorated_address) << entry.name << " / " << entry.decorated_name;
  }
}

TEST_F(ExportsTest, PluginAndSimulatorImportWindowsSystemLibrariesOnly) {
  for (const char* dll : {"ExtIO_halvorn.dll", "halvornusb.dll"}) {
    HMODULE module = LoadLibraryExA((BuildDirectory() + dll).c_str(), nullptr, DONT_RESOLVE_DLL_REFERENCES);
    ASSERT_NE(module, nullptr) << dll;
    auto* base = reinterpret_cast<const BYTE*>(module);
    auto* dos = reinterpret_cast<const IMAGE_DOS_HEADER*>(base);
    auto* nt = reinterpret_cast<const IMAGE_NT_HEADERS32*>(base + dos->e_lfanew);
    EXPECT_EQ(nt->FileHeader.Machine, IMAGE_FILE_MACHINE_I386) << dll;
    const auto& directory = nt->OptionalHeader.DataDirectory[IMAGE_DIRECTORY_ENTRY_IMPORT];
    auto* import = reinterpret_cast<const IMAGE_IMPORT_DESCRIPTOR*>(base + directory.VirtualAddress);
    for (; import->Name != 0; ++import) {
      std::string imported = reinterpret_cast<const char*>(base + import->Name);
      for (char& c : imported) c = static_cast<char>(toupper(static_cast<unsigned char>(c)));
      EXPECT_TRUE(imported == "KERNEL32.DLL" || imported == "USER32.DLL" || imported == "GDI32.DLL" ||
                  imported == "MSVCRT.DLL" || imported == "COMCTL32.DLL" || imported == "ADVAPI32.DLL")
          << dll << " imports " << imported;
    }
    FreeLibrary(module);
  }
}

}  // namespace
}  // namespace halvorn::wine_tests

#include <windows.h>

#include "device/library_loader.h"

namespace halvorn::device {
namespace {

class Win32LibraryLoader final : public LibraryLoader {
 public:
  Handle Load(const char* library_name) override { return LoadLibraryA(library_name); }

  void* Find(Handle library, const char* entry_name) override {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), entry_name));
  }

  bool Unload(Handle library) override { return FreeLibrary(static_cast<HMODULE>(library)) != 0; }
};

}  // namespace

std::unique_ptr<LibraryLoader> MakePlatformLibraryLoader(const char* /*search_directory*/) {
  return std::make_unique<Win32LibraryLoader>();
}

}  // namespace halvorn::device

#include <windows.h>

#include <string>

#include "device/library_loader.h"

namespace halvorn::device {
namespace {

class Win32LibraryLoader final : public LibraryLoader {
 public:
  explicit Win32LibraryLoader(std::string directory) : directory_(std::move(directory)) {}

  // The plug-in's own folder first: a host that loads the plug-in by its full
  // path from another folder would not find the library beside it otherwise.
  // Its own dependencies are then looked for beside it too.
  Handle Load(const char* library_name) override {
    if (!directory_.empty()) {
      const std::string beside = directory_ + "\\" + library_name;
      if (HMODULE library = LoadLibraryExA(beside.c_str(), nullptr, LOAD_WITH_ALTERED_SEARCH_PATH)) return library;
    }
    return LoadLibraryA(library_name);
  }

  void* Find(Handle library, const char* entry_name) override {
    return reinterpret_cast<void*>(GetProcAddress(static_cast<HMODULE>(library), entry_name));
  }

  bool Unload(Handle library) override { return FreeLibrary(static_cast<HMODULE>(library)) != 0; }

 private:
  std::string directory_;
};

}  // namespace

std::unique_ptr<LibraryLoader> MakePlatformLibraryLoader(const char* search_directory) {
  return std::make_unique<Win32LibraryLoader>(search_directory);
}

}  // namespace halvorn::device

#include <dlfcn.h>

#include <string>

#include "device/library_loader.h"

namespace halvorn::device {
namespace {

// "halvornusb.dll" -> "<dir>/libhalvornusb.so"
std::string SharedObjectPath(const std::string& directory, const std::string& dll_name) {
  std::string stem = dll_name;
  if (const auto dot = stem.rfind('.'); dot != std::string::npos) stem.resize(dot);
  std::string path = directory.empty() ? std::string() : directory + "/";
  return path + "lib" + stem + ".so";
}

class PosixLibraryLoader final : public LibraryLoader {
 public:
  explicit PosixLibraryLoader(std::string directory) : directory_(std::move(directory)) {}

  Handle Load(const char* library_name) override {
    return dlopen(SharedObjectPath(directory_, library_name).c_str(), RTLD_NOW | RTLD_LOCAL);
  }

  void* Find(Handle library, const char* entry_name) override { return dlsym(library, entry_name); }

  bool Unload(Handle library) override { return dlclose(library) == 0; }

 private:
  std::string directory_;
};

}  // namespace

std::unique_ptr<LibraryLoader> MakePlatformLibraryLoader(const char* search_directory) {
  return std::make_unique<PosixLibraryLoader>(search_directory);
}

}  // namespace halvorn::device

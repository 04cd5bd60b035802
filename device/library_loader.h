// How a shared library is found, loaded and searched. The device binding is
// the only user; each platform has one implementation, and tests may wrap it.
#pragma once

#include <memory>

namespace halvorn::device {

class LibraryLoader {
 public:
  using Handle = void*;

  virtual ~LibraryLoader() = default;
  // Null when the library cannot be loaded.
  virtual Handle Load(const char* library_name) = 0;
  // Null when the library has no such entry.
  virtual void* Find(Handle library, const char* entry_name) = 0;
  // True when the library was released.
  virtual bool Unload(Handle library) = 0;
};

// LoadLibrary / GetProcAddress / FreeLibrary on Windows, looking in
// `search_directory` first and then where Windows looks. Natively the same
// name "x.dll" is looked up as "libx.so" in `search_directory` (empty: the
// dynamic linker's own search path).
std::unique_ptr<LibraryLoader> MakePlatformLibraryLoader(const char* search_directory = "");

}  // namespace halvorn::device

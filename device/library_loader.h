// How a shared library is found, loaded, searched and let go. The device
// binding is the only user; each platform has one implementation, and tests
// may wrap it.
#pragma once

#include <memory>

#include "device/device_abi.h"

namespace halvorn::device {

class LibraryLoader {
 public:
  using Handle = void*;

  // A library given up for good: its input to stop and the device to close
  // first (either may be null), and whether it must stay in the process
  // because its input may run on regardless.
  struct Release {
    Handle library;
    StopAsyncInputFn stop_input;
    CloseFn close;
    bool keep_loaded;
  };

  virtual ~LibraryLoader() = default;
  // Null when the library cannot be loaded.
  virtual Handle Load(const char* library_name) = 0;
  // Null when the library has no such entry.
  virtual void* Find(Handle library, const char* entry_name) = 0;
  // True when the library was released.
  virtual bool Unload(Handle library) = 0;
  // Stops, closes and unloads as `release` says; an input that refuses the
  // stop keeps the library loaded, since it may still call back. Here at
  // once; a platform where that cannot be waited for (an unload, under the
  // Windows loader's lock) does it later, elsewhere.
  virtual void ReleaseForGood(const Release& release);
};

// LoadLibrary / GetProcAddress / FreeLibrary on Windows, looking in
// `search_directory` first and then where Windows looks. Natively the same
// name "x.dll" is looked up as "libx.so" in `search_directory` (empty: the
// dynamic linker's own search path).
std::unique_ptr<LibraryLoader> MakePlatformLibraryLoader(const char* search_directory = "");

}  // namespace halvorn::device

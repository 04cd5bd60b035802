#include "device/library_loader_win32.h"

#include <windows.h>

#include <cstdio>
#include <string>

namespace halvorn::device {
namespace {

// How long a load waits for an earlier unload's release of the library.
constexpr DWORD kEarlierReleaseWaitMs = 5000;

// Named for this process: set once the library a module left behind at its
// unload has been released.
std::string ReleaseEventName() {
  char name[64];
  std::snprintf(name, sizeof name, "Local\\ExtIO_halvorn.release.%lu", GetCurrentProcessId());
  return name;
}

class Win32LibraryLoader final : public LibraryLoader {
 public:
  Win32LibraryLoader(std::string directory, win::ModuleDoor* door) : directory_(std::move(directory)), door_(door) {}

  // The plug-in's own folder first: a host that loads the plug-in by its full
  // path from another folder would not find the library beside it otherwise.
  // Its own dependencies are then looked for beside it too.
  Handle Load(const char* library_name) override {
    AwaitEarlierRelease();
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

  // The device's stop and close wait for its threads, whose end needs the
  // loader's lock, held all through an unload: the door does them after.
  void ReleaseForGood(const Release& release) override {
    if (door_ == nullptr) {
      LibraryLoader::ReleaseForGood(release);
      return;
    }
    const HANDLE done = CreateEventA(nullptr, TRUE, FALSE, ReleaseEventName().c_str());
    if (done != nullptr) ResetEvent(done);
    const win::ModuleDoor::LibraryRelease handed{
        reinterpret_cast<const void*>(release.stop_input), reinterpret_cast<const void*>(release.close),
        release.keep_loaded ? nullptr : static_cast<HMODULE>(release.library), done};
    // Without a thread nothing is called, and the library stays: an input
    // still running could call into it.
    if (!door_->ReleaseAfterUnload(handed) && done != nullptr) CloseHandle(done);
  }

 private:
  static void AwaitEarlierRelease() {
    if (const HANDLE pending = OpenEventA(SYNCHRONIZE, FALSE, ReleaseEventName().c_str())) {
      WaitForSingleObject(pending, kEarlierReleaseWaitMs);
      CloseHandle(pending);
    }
  }

  std::string directory_;
  win::ModuleDoor* door_;
};

}  // namespace

std::unique_ptr<LibraryLoader> MakeWin32LibraryLoader(const char* search_directory, win::ModuleDoor* door) {
  return std::make_unique<Win32LibraryLoader>(search_directory, door);
}

std::unique_ptr<LibraryLoader> MakePlatformLibraryLoader(const char* search_directory) {
  return MakeWin32LibraryLoader(search_directory, nullptr);
}

}  // namespace halvorn::device

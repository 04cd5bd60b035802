// Holds the loader's lock, as an unload does for its whole length: no new
// thread begins, and a thread that needs the lock waits for its release.
#pragma once

#include <windows.h>

namespace halvorn::testing {

class LoaderLock {
 public:
  LoaderLock() {
    const HMODULE ntdll = GetModuleHandleA("ntdll.dll");
    lock_ = reinterpret_cast<Lock>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrLockLoaderLock")));
    unlock_ = reinterpret_cast<Unlock>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
    held_ = lock_ != nullptr && unlock_ != nullptr && lock_(0, nullptr, &cookie_) == 0;
  }
  ~LoaderLock() { Release(); }
  LoaderLock(const LoaderLock&) = delete;
  LoaderLock& operator=(const LoaderLock&) = delete;

  bool held() const { return held_; }
  void Release() {
    if (held_) unlock_(0, cookie_);
    held_ = false;
  }

 private:
  using Lock = LONG(WINAPI*)(ULONG flags, ULONG* disposition, ULONG_PTR* cookie);
  using Unlock = LONG(WINAPI*)(ULONG flags, ULONG_PTR cookie);
  Lock lock_ = nullptr;
  Unlock unlock_ = nullptr;
  ULONG_PTR cookie_ = 0;
  bool held_ = false;
};

}  // namespace halvorn::testing

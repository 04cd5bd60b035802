// The simulated library as a library that lacks entries, or is not there.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>

#include "device/library_loader.h"
#include "tests/support/native_module.h"

namespace halvorn::testing {

// The real simulated library with the named entries hidden from every lookup
// made after they were hidden, as a library without them would be.
class HidingLoader : public device::LibraryLoader {
 public:
  HidingLoader() : real_(device::MakePlatformLibraryLoader(SimulatorDirectory())) {}

  void Hide(std::set<std::string> names) {
    std::lock_guard lock(mutex_);
    hidden_ = std::move(names);
  }
  // No load succeeds while the library is "absent".
  void SetAbsent(bool absent) { absent_ = absent; }

  Handle Load(const char* name) override { return absent_ ? nullptr : real_->Load(name); }
  void* Find(Handle library, const char* name) override {
    {
      std::lock_guard lock(mutex_);
      if (hidden_.count(name)) return nullptr;
    }
    return real_->Find(library, name);
  }
  bool Unload(Handle library) override { return real_->Unload(library); }

 private:
  std::unique_ptr<device::LibraryLoader> real_;
  std::mutex mutex_;
  std::set<std::string> hidden_;
  std::atomic<bool> absent_{false};
};

}  // namespace halvorn::testing

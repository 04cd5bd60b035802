// The simulated library as a library that lacks entries, or is not there.
#pragma once

#include <atomic>
#include <memory>
#include <mutex>
#include <set>
#include <string>
#include <vector>

#include "device/library_loader.h"
#include "tests/support/native_module.h"

namespace halvorn::testing {

// The real simulated library with the named entries hidden from every lookup
// made after they were hidden, as a library without them would be. It keeps
// the names looked up, in order, and counts the unloads.
class HidingLoader : public device::LibraryLoader {
 public:
  explicit HidingLoader(std::set<std::string> hidden = {})
      : real_(device::MakePlatformLibraryLoader(SimulatorDirectory())), hidden_(std::move(hidden)) {}

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
      looked_up_.emplace_back(name);
      if (hidden_.count(name)) return nullptr;
    }
    return real_->Find(library, name);
  }
  bool Unload(Handle library) override {
    ++unloads_;
    return real_->Unload(library);
  }

  std::vector<std::string> looked_up() {
    std::lock_guard lock(mutex_);
    return looked_up_;
  }
  int unloads() const { return unloads_; }

 private:
  std::unique_ptr<device::LibraryLoader> real_;
  std::mutex mutex_;
  std::set<std::string> hidden_;
  std::vector<std::string> looked_up_;
  std::atomic<bool> absent_{false};
  std::atomic<int> unloads_{0};
};

}  // namespace halvorn::testing

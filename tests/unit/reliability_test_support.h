// What the native reliability tests add to the checks: the simulator's
// settings for one run, a loader that hides entries of the real simulated
// library, and a recording directory that remembers the order of the files
// it made.
#pragma once

#include <cstdlib>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <set>
#include <string>
#include <vector>

#include "device/library_loader.h"
#include "recorder/recording_file.h"
#include "tests/support/native_module.h"
#include "tests/unit/reliability_checks.h"

namespace halvorn::reliability {

// ---- The simulator's settings for one run ----------------------------------------

// Sets HALVORNSIM_* variables and puts back what was there. The simulator reads
// them at its entry calls, so they change only while no other thread calls it.
class SimulatorSettings {
 public:
  SimulatorSettings() = default;
  SimulatorSettings(const SimulatorSettings&) = delete;
  SimulatorSettings& operator=(const SimulatorSettings&) = delete;
  ~SimulatorSettings() {
    for (const auto& [name, value] : previous_) {
      if (value) {
        ::setenv(name.c_str(), value->c_str(), 1);
      } else {
        ::unsetenv(name.c_str());
      }
    }
  }

  // Empty unsets.
  void Set(const std::string& name, const std::string& value) {
    if (!previous_.count(name)) {
      const char* old = std::getenv(name.c_str());
      previous_[name] = old ? std::optional<std::string>(old) : std::nullopt;
    }
    if (value.empty()) {
      ::unsetenv(name.c_str());
    } else {
      ::setenv(name.c_str(), value.c_str(), 1);
    }
  }

 private:
  std::map<std::string, std::optional<std::string>> previous_;
};

// ---- A library that lacks entries ------------------------------------------------

// The real simulated library with the named entries hidden from every lookup
// made after they were hidden, as a library without them would be.
class HidingLoader : public device::LibraryLoader {
 public:
  HidingLoader() : real_(device::MakePlatformLibraryLoader(testing::SimulatorDirectory())) {}

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

// ---- Recordings -------------------------------------------------------------------

// A directory that remembers the files it created, in order.
class OrderedDirectory final : public recorder::RecordingDirectory {
 public:
  explicit OrderedDirectory(std::unique_ptr<recorder::RecordingDirectory> inner) : inner_(std::move(inner)) {}

  Created CreateNew(const char* name) override {
    Created created = inner_->CreateNew(name);
    if (created.status == CreateStatus::kCreated) {
      std::lock_guard lock(mutex_);
      created_.emplace_back(name);
    }
    return created;
  }
  bool Remove(const char* name) override {
    {
      std::lock_guard lock(mutex_);
      removed_.emplace_back(name);
    }
    return inner_->Remove(name);
  }
  std::string PathOf(const char* name) const override { return inner_->PathOf(name); }
  std::string Describe(recorder::FileError error) const override { return inner_->Describe(error); }

  std::vector<std::string> created() const {
    std::lock_guard lock(mutex_);
    return created_;
  }
  std::vector<std::string> removed() const {
    std::lock_guard lock(mutex_);
    return removed_;
  }

 private:
  std::unique_ptr<recorder::RecordingDirectory> inner_;
  mutable std::mutex mutex_;
  std::vector<std::string> created_;
  std::vector<std::string> removed_;
};

}  // namespace halvorn::reliability

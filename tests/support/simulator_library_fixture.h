// The simulator's own native tests: libhalvornusb.so loaded through the real
// binding, with a fresh journal and no other HALVORNSIM_* setting per test.
#pragma once

#include <gtest/gtest.h>
#include <stdlib.h>

#include <memory>
#include <string>
#include <vector>

#include "device/device_library.h"
#include "device/library_loader.h"
#include "tests/support/journal.h"
#include "tests/support/native_module.h"

namespace halvorn::simulator::testing {

inline constexpr const char* kSettingVariables[] = {
    "HALVORNSIM_JOURNAL", "HALVORNSIM_MISSING", "HALVORNSIM_FAIL",  "HALVORNSIM_SOURCE", "HALVORNSIM_PACING",
    "HALVORNSIM_CLOCK_HZ", "HALVORNSIM_STAMP",  "HALVORNSIM_STALL", "HALVORNSIM_UNPLUG"};

class LibraryTest : public ::testing::Test {
 protected:
  void SetUp() override {
    for (const char* variable : kSettingVariables) unsetenv(variable);
    journal_ = halvorn::testing::Journal(halvorn::testing::NewJournalPath("simulator"));
    Set("HALVORNSIM_JOURNAL", journal_.path());
    loader_ = device::MakePlatformLibraryLoader(halvorn::testing::SimulatorDirectory());
    device_ = std::make_unique<device::DeviceLibrary>(*loader_);
    ASSERT_TRUE(device_->Load());
    // A reference of our own, for the entries the binding never calls.
    handle_ = loader_->Load(device::kLibraryName);
    ASSERT_NE(handle_, nullptr);
  }

  void TearDown() override {
    if (device_) device_->StopAsyncInput();
    device_.reset();
    if (handle_ != nullptr) loader_->Unload(handle_);
    for (const char* variable : kSettingVariables) unsetenv(variable);
  }

  static void Set(const char* variable, const std::string& value) { setenv(variable, value.c_str(), 1); }

  template <typename Fn>
  Fn Entry(const char* name) {
    return reinterpret_cast<Fn>(loader_->Find(handle_, name));
  }

  // The journal's lines as written.
  std::vector<std::string> JournalText() const {
    std::vector<std::string> lines;
    std::ifstream in(journal_.path());
    for (std::string line; std::getline(in, line);) lines.push_back(line);
    return lines;
  }

  std::string LastJournalLine() const {
    const auto lines = JournalText();
    return lines.empty() ? std::string() : lines.back();
  }

  halvorn::testing::Journal journal_{""};
  std::unique_ptr<device::LibraryLoader> loader_;
  std::unique_ptr<device::DeviceLibrary> device_;
  device::LibraryLoader::Handle handle_ = nullptr;
};

}  // namespace halvorn::simulator::testing

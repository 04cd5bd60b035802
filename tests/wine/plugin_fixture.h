// Every Wine test starts from a freshly loaded plug-in DLL and a simulated
// receiver that journals each call, and ends by unloading the plug-in.
#pragma once

#include <gtest/gtest.h>
#include <windows.h>

#include <memory>
#include <string>

#include "host/extio_plugin.h"
#include "host/message_box_watcher.h"
#include "tests/support/counting_host.h"
#include "tests/support/journal.h"

namespace halvorn::wine_tests {

class PluginTest : public ::testing::Test {
 protected:
  void SetUp() override;
  void TearDown() override;

  // Whether the standard search for "halvornusb.dll" finds the simulator;
  // decide before InitHW.
  void UseSimulator(bool available);
  // Sets one of the simulator's HALVORNSIM_* settings for its next load/call.
  static void SetSimulator(const char* name, const std::string& value);
  // InitHW with fresh buffers; true when it succeeded.
  bool Init();

  static std::string BuildDirectory();  // where the two DLLs are
  // A copy of the plug-in in a folder of its own, without the device library
  // beside it, so UseSimulator decides whether the library is found.
  static std::string PluginPath();
  // After FreeLibrary: the module has gone, at once or once the panel's
  // thread finished what it was doing.
  static bool PluginGone();

  std::unique_ptr<host::ExtIoPlugin> plugin_;
  host::MessageBoxWatcher boxes_;
  testing::CountingHost& callback_ = testing::CountingHost::Instance();
  testing::Journal journal_{""};
  char name_[64] = {};
  char model_[64] = {};
  int sample_type_ = -1;
};

}  // namespace halvorn::wine_tests

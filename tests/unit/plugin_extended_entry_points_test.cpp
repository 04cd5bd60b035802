// The extended entry points on the module over the simulated receiver: what
// they trace, and a host choosing rates and attenuator steps on a thread of
// its own while recordings start and stop on the panel's.
#include <gtest/gtest.h>

#include <atomic>
#include <thread>

#include "panel/control_ids.h"
#include "receiver/sample_rate_table.h"
#include "tests/support/native_plugin.h"
#include "tests/unit/recorder_test_support.h"

namespace halvorn {
namespace {

using Strings = std::vector<std::string>;

class ExtendedEntryPointsTest : public ::testing::Test {
 protected:
  Module& plugin() { return native_.module(); }
  void Open() {
    char name[32] = {};
    char model[32] = {};
    int type = 0;
    ASSERT_TRUE(plugin().InitHW(name, model, &type));
    ASSERT_TRUE(plugin().OpenHW());
  }

  testing::NativePlugin native_{testing::NativePluginParts{"extended entry points", nullptr, nullptr, nullptr}};
};

TEST_F(ExtendedEntryPointsTest, EachTracesItsNameAndVersionInfoTheHostsNameAndVersion) {
  native_.native().trace.Clear();
  plugin().VersionInfo("HDSDR", 2, 81);
  plugin().VersionInfo(nullptr, 1, 0);
  const std::string long_name(100, 'n');
  plugin().VersionInfo(long_name.c_str(), 0, 1);
  EXPECT_EQ(native_.native().trace.texts(),
            (Strings{"VersionInfo", "Host: HDSDR 2.81", "VersionInfo", "Host: (no name) 1.0", "VersionInfo",
                     "Host: " + long_name.substr(0, 64) + " 0.1"}));

  native_.native().trace.Clear();
  double rate_hz = 0.0;
  float level_db = 0.0f;
  plugin().ExtIoGetSrates(0, &rate_hz);
  plugin().ExtIoGetActualSrateIdx();
  plugin().ExtIoSetSrate(0);
  plugin().ExtIoGetBandwidth(0);
  plugin().GetAttenuators(0, &level_db);
  plugin().GetActualAttIdx();
  plugin().SetAttenuator(3);
  plugin().SwitchGUI();
  EXPECT_EQ(native_.native().trace.texts(),
            (Strings{"ExtIoGetSrates", "ExtIoGetActualSrateIdx", "ExtIoSetSrate", "ExtIoGetBandwidth",
                     "GetAttenuators", "GetActualAttIdx", "SetAttenuator", "SwitchGUI"}));
  EXPECT_EQ(native_.ui().events().back(), "switch-panel");
}

TEST_F(ExtendedEntryPointsTest, AHostsChoicesOnItsOwnThreadNeverChangeTheSettingsOfARecording) {
  ASSERT_NO_FATAL_FAILURE(Open());
  std::atomic<bool> stop{false};
  std::thread host([&] {
    for (int i = 0; !stop.load(); ++i) {
      plugin().ExtIoSetSrate(i % receiver::kSampleRateCount);
      plugin().SetAttenuator(i % receiver::kAttenuatorSteps);
      std::this_thread::yield();
    }
  });

  std::vector<receiver::ReceiverSettings> recorded;
  for (int round = 0; round < 20 && !HasFailure(); ++round) {
    native_.module().panel().OnClick(panel::kRecButton);
    ASSERT_TRUE(plugin().recorder().IsRecording());
    const receiver::ReceiverSettings settings = plugin().receiver().Settings();
    recorded.push_back(settings);
    // Refused from here as from the host's thread, whatever it asks for.
    const int other_row = (settings.sample_rate_index + 1) % receiver::kSampleRateCount;
    EXPECT_NE(plugin().ExtIoSetSrate(other_row), 0);
    // As an entry, the step's own number names another step.
    EXPECT_NE(plugin().SetAttenuator(settings.attenuator_step), 0);
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    const receiver::ReceiverSettings after = plugin().receiver().Settings();
    EXPECT_EQ(after.sample_rate_index, settings.sample_rate_index);
    EXPECT_EQ(after.attenuator_step, settings.attenuator_step);
    native_.module().panel().OnClick(panel::kStopButton);
    EXPECT_EQ(plugin().ExtIoSetSrate(other_row), 0);
  }
  stop = true;
  host.join();

  // Each file's header tells the settings its recording ran with.
  const Strings files = native_.directory().created();
  ASSERT_EQ(files.size(), recorded.size());
  for (std::size_t i = 0; i < files.size(); ++i) {
    const auto header = testing::ReadBytes(native_.scratch() / files[i]);
    ASSERT_GE(header.size(), 90u) << files[i];
    EXPECT_EQ(header[48], recorded[i].sample_rate_index) << files[i];
    EXPECT_EQ(header[60], recorded[i].attenuator_step) << files[i];
  }
}

}  // namespace
}  // namespace halvorn

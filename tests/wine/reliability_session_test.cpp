// A randomised host session through the real DLL under Wine
// (tests/support/randomised_session.h): the entry points called through the
// DLL's exports, the panel's controls clicked with real window messages
// (disabled or not: the handlers are what is tested), timer ticks sent, and
// messages pumped as a host's loop does while it waits. Message boxes are
// read and closed as a user would.
//
// Replay: HALVORN_SESSION_SEEDS=<first seed> HALVORN_WINE_SESSION_STEPS=<steps of all three>
#include "tests/support/randomised_session.h"
#include "tests/support/win32/dll_plugin.h"
#include "tests/wine/recording_support.h"

namespace halvorn::wine_tests {
namespace {

class WineSession : public RecordingTest {
 protected:
  void TearDown() override {
    if (plugin_) plugin_->StopHW();
    RecordingTest::TearDown();
  }
};

// Three hosts in turn on the same process, each loading the plug-in afresh:
// one unloads it from a thread of its own, one while a message of the
// plug-in is open, one after StopHW and CloseHW.
TEST_F(WineSession, RandomisedHostAndUserHoldEveryInvariant) {
  testing::DllPlugin dll(plugin_, boxes_, journal_.path(), scratch_->path());
  dll.SetSimulator("HALVORNSIM_PACING", "realtime");
  const std::uint32_t seed = testing::SessionSeeds({11}).front();
  const int steps = testing::SessionSteps("HALVORN_WINE_SESSION_STEPS", 1000);
  const std::optional<testing::Unload> endings[] = {testing::Unload::kFromAnotherThread,
                                                     testing::Unload::kWhileAMessageIsOpen, std::nullopt};
  for (std::uint32_t round = 0; round < std::size(endings) && !HasFailure(); ++round) {
    if (!plugin_) {
      journal_.Clear();
      std::string error;
      plugin_ = host::ExtIoPlugin::Load(PluginPath(), &error);
      ASSERT_TRUE(plugin_) << error;
    }
    testing::SessionOptions options;
    options.seed = seed + round;
    options.steps = std::max(1, steps / static_cast<int>(std::size(endings)));
    options.step_bound = std::chrono::seconds(60);
    options.delivery_wait = std::chrono::seconds(10);
    // A command from an identifier of no control is a menu's or an
    // accelerator's to a dialog (IDOK, IDCANCEL): not a click.
    options.stray_clicks = false;
    options.ending = endings[round];
    testing::RandomisedSession session(dll, options);
    session.Run();
  }
}

}  // namespace
}  // namespace halvorn::wine_tests

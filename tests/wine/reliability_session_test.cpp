// A randomised host session through the real DLL under Wine
// (tests/support/randomised_session.h): the entry points called through the
// DLL's exports, the panel's controls clicked with real window messages
// (disabled or not: the handlers are what is tested), timer ticks sent, and
// messages pumped as a host's loop does while it waits. Message boxes are
// read and closed as a user would.
//
// Replay: HALVORN_SESSION_SEEDS=<seed> HALVORN_WINE_SESSION_STEPS=<steps>
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

TEST_F(WineSession, RandomisedHostAndUserHoldEveryInvariant) {
  testing::DllPlugin dll(plugin_, boxes_, journal_.path(), scratch_->path());
  dll.SetSimulator("HALVORNSIM_PACING", "realtime");
  testing::SessionOptions options;
  options.seed = testing::SessionSeeds({11}).front();
  options.steps = testing::SessionSteps("HALVORN_WINE_SESSION_STEPS", 1000);
  options.step_bound = std::chrono::seconds(60);
  options.delivery_wait = std::chrono::seconds(10);
  // A command from an identifier of no control is a menu's or an
  // accelerator's to a dialog (IDOK, IDCANCEL): not a click.
  options.stray_clicks = false;
  testing::RandomisedSession session(dll, options);
  session.Run();
}

}  // namespace
}  // namespace halvorn::wine_tests

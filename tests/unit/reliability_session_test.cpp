// Randomised host sessions against the module built natively, with the
// simulated receiver loaded as a shared object sending the counting pattern
// (tests/support/randomised_session.h). Natively the session also sees into
// the module: the receiver's state and the control record after every step,
// and the ring's drops against what the host and the recordings miss.
//
// Replay one seed:  HALVORN_SESSION_SEEDS=1234 reliability_tests --gtest_filter='*Session*'
// More steps:       HALVORN_SESSION_STEPS=20000
#include <gtest/gtest.h>

#include "tests/support/counting_host.h"
#include "tests/support/native_plugin.h"
#include "tests/support/randomised_session.h"
#include "tests/support/sanitizers.h"

namespace halvorn::reliability {
namespace {

using namespace testing;

// Seeds divisible by 4 run the simulator unpaced: transfers as fast as the
// plug-in takes them, so the ring fills and drops.
bool Unpaced(std::uint32_t seed) { return seed % 4 == 0; }

class RandomisedSession : public ::testing::TestWithParam<std::uint32_t> {
 protected:
  ~RandomisedSession() override { CountingHost::Instance().SetBlockDelay(0); }
};

TEST_P(RandomisedSession, HoldsEveryInvariant) {
  const std::uint32_t seed = GetParam();
  NativePluginParts parts;
  parts.label = "seed" + std::to_string(seed);
  // Half the seeds keep files small, so recordings go on in new files.
  if (seed % 2 == 1) parts.max_data_bytes = 1000000;
  NativePlugin plugin(std::move(parts));
  plugin.SetSimulator("HALVORNSIM_PACING", Unpaced(seed) ? "unpaced" : "realtime");
  // A slow host makes an unpaced ring overflow without a busy disk.
  CountingHost::Instance().SetBlockDelay(Unpaced(seed) ? 500 : 0);

  SessionOptions options;
  options.seed = seed;
  options.steps = SessionSteps("HALVORN_SESSION_STEPS", kSanitized ? 700 : 2500);
  options.step_bound = std::chrono::seconds(kSanitized ? 120 : 30);
  options.delivery_wait = std::chrono::seconds(kSanitized ? 30 : 10);
  // Half the hosts end by unloading from a thread of their own.
  if (seed % 2 == 0) options.ending = Unload::kFromAnotherThread;
  testing::RandomisedSession session(plugin, options);
  session.Run();
}

INSTANTIATE_TEST_SUITE_P(Seeds, RandomisedSession, ::testing::ValuesIn(SessionSeeds({1, 2, 3, 4})),
                         [](const ::testing::TestParamInfo<std::uint32_t>& seed) {
                           return "seed" + std::to_string(seed.param);
                         });

}  // namespace
}  // namespace halvorn::reliability

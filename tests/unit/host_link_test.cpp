#include "ports/host_link.h"

#include <gtest/gtest.h>

#include "tests/support/counting_host.h"
#include "tests/support/trace_recorder.h"

namespace halvorn {
namespace {

using testing::CountingHost;

class HostLinkTest : public ::testing::Test {
 protected:
  void SetUp() override {
    CountingHost::Instance().Reset();
    trace_.Install(&texts_);
  }

  Trace trace_;
  testing::TraceRecorder texts_;
  HostLink link_{trace_, kCallHostDirectly};
};

TEST_F(HostLinkTest, StatusCallsReachARegisteredCallbackInTheirExactForm) {
  link_.SetCallback(&CountingHost::Callback);
  link_.NotifySampleRateChange();
  link_.NotifyRecordingState(true);
  link_.NotifyRecordingState(false);

  const auto calls = CountingHost::Instance().status_calls();
  ASSERT_EQ(calls.size(), 3u);
  const int expected_status[] = {100, 102, 103};
  for (size_t i = 0; i < calls.size(); ++i) {
    EXPECT_EQ(calls[i].count, -1);
    EXPECT_EQ(calls[i].status, expected_status[i]);
    EXPECT_EQ(calls[i].iq_offset, 0.0f);
    EXPECT_TRUE(calls[i].data_is_null);
  }
  EXPECT_EQ(texts_.texts(), (std::vector<std::string>{"SR change signaled to Winrad",
                                                      "RecStatus change signaled to Winrad",
                                                      "RecStatus change signaled to Winrad"}));
}

TEST_F(HostLinkTest, AttenuatorChangesReachOnlyAHostThatAskedForTheList) {
  link_.SetCallback(&CountingHost::Callback);
  link_.NotifyAttenuatorChange();
  EXPECT_TRUE(CountingHost::Instance().status_calls().empty());
  link_.FollowAttenuator();
  link_.NotifyAttenuatorChange();
  const auto calls = CountingHost::Instance().status_calls();
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].count, -1);
  EXPECT_EQ(calls[0].status, 125);
  EXPECT_EQ(calls[0].iq_offset, 0.0f);
  EXPECT_TRUE(calls[0].data_is_null);
  EXPECT_EQ(texts_.texts(), std::vector<std::string>{"Attenuator change signaled to the host"});
}

TEST_F(HostLinkTest, WithoutACallbackStatusCallsAreDroppedSilently) {
  link_.NotifySampleRateChange();
  link_.NotifyRecordingState(true);
  link_.NotifyRecordingState(false);
  std::uint8_t block[6144] = {};
  link_.DeliverBlock(block);

  EXPECT_TRUE(CountingHost::Instance().status_calls().empty());
  EXPECT_EQ(CountingHost::Instance().blocks(), 0u);
  EXPECT_TRUE(texts_.texts().empty());
}

TEST_F(HostLinkTest, UnregisteringWithNullStopsTheCalls) {
  link_.SetCallback(&CountingHost::Callback);
  link_.SetCallback(nullptr);
  link_.NotifySampleRateChange();
  EXPECT_TRUE(CountingHost::Instance().status_calls().empty());
}

TEST_F(HostLinkTest, BlocksCarry1024PairsStatus0AndNoOffset) {
  link_.SetCallback(&CountingHost::Callback);
  std::uint8_t block[6144] = {};
  link_.DeliverBlock(block);
  EXPECT_EQ(CountingHost::Instance().blocks(), 1u);
  EXPECT_EQ(CountingHost::Instance().malformed_blocks(), 0u);
}

}  // namespace
}  // namespace halvorn

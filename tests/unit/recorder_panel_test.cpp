// Recording through the control panel and the real stream: the core assembled
// as the module assembles it, with the device library played in process, the
// real ring and delivery thread, and the recorder writing into a scratch
// directory.
#include <gtest/gtest.h>

#include <chrono>
#include <cstring>
#include <thread>

#include "panel/control_ids.h"
#include "panel/control_panel.h"
#include "tests/support/counting_host.h"
#include "tests/support/fake_device.h"
#include "tests/support/native_module.h"
#include "tests/support/stored_form.h"
#include "tests/unit/recorder_test_support.h"

namespace halvorn::recorder {
namespace {

using testing::CountingHost;
using testing::ExpectFinished;
using testing::FakeDevice;
using testing::SampleBytes;
using Names = std::vector<std::string>;

constexpr std::int64_t kStart = 1798761599;  // Thu Dec 31 23:59:59 2026 UTC
const std::string kName = "Thu Dec 31 23-59-59 2026.wav";

// The 18 receiver-setting controls and "Rec" that the rules switch.
std::vector<int> SettingControls() {
  std::vector<int> ids;
  for (int id = panel::kAttenuator0dB; id <= panel::kAttenuator30dB; ++id) ids.push_back(id);
  for (int id = panel::kFirstRateButton; id <= panel::kLastRateButton; ++id) ids.push_back(id);
  for (int id : {panel::kAdcPreamp, panel::kAdcDither, panel::kClockCalibrate, panel::kPreselector}) ids.push_back(id);
  return ids;
}

class RecordingPanelTest : public ::testing::Test {
 protected:
  RecordingPanelTest() {
    FakeDevice::Instance().Reset();
    CountingHost::Instance().Reset();
  }
  void SetUp() override {
    ASSERT_TRUE(module_.Init());
    module_.plugin().SetCallback(&CountingHost::Callback);
    ASSERT_TRUE(module_.plugin().OpenHW());
  }

  RecorderOptions Options() {
    RecorderOptions options;
    options.directory = std::make_unique<testing::FaultyDirectory>(scratch_.path(), faults_);
    options.clock = clock_.AsClock();
    return options;
  }

  void Click(int id) { module_.panel().OnClick(id); }
  testing::FakeUserInterface& ui() { return module_.ui; }
  bool Enabled(int id) { return ui().control(id).enabled; }

  void ExpectIdleArrangement() {
    for (int id : SettingControls()) EXPECT_TRUE(Enabled(id)) << id;
    EXPECT_TRUE(Enabled(panel::kRecButton));
    EXPECT_FALSE(Enabled(panel::kStopButton));
  }
  void ExpectRecordingArrangement() {
    for (int id : SettingControls()) EXPECT_FALSE(Enabled(id)) << id;
    EXPECT_FALSE(Enabled(panel::kRecButton));
    EXPECT_TRUE(Enabled(panel::kStopButton));
  }
  static std::vector<int> RecordingStatuses() {
    std::vector<int> statuses;
    for (int status : CountingHost::Instance().statuses()) {
      if (status == 102 || status == 103) statuses.push_back(status);
    }
    return statuses;
  }
  // Index of the first event equal to `event`, or -1.
  long EventIndex(const std::string& event) {
    const auto events = ui().events();
    const auto found = std::find(events.begin(), events.end(), event);
    return found == events.end() ? -1 : found - events.begin();
  }

  // Plays the library's input thread: `transfers` transfers of counting pairs,
  // never more than half a ring ahead of the host, so none is dropped.
  void Stream(std::uint64_t& next_pair, int transfers, int bytes_per_transfer) {
    const auto callback = FakeDevice::Instance().transfer_callback.load();
    ASSERT_NE(callback, nullptr);
    const int blocks_per_transfer = bytes_per_transfer / 6144;
    std::vector<std::uint8_t> transfer(static_cast<std::size_t>(bytes_per_transfer));
    const std::uint64_t blocks_before = CountingHost::Instance().blocks();
    for (int t = 0; t < transfers; ++t) {
      while (static_cast<std::int64_t>(blocks_before + static_cast<std::uint64_t>(t * blocks_per_transfer)) -
                 static_cast<std::int64_t>(CountingHost::Instance().blocks()) > 256) {
        std::this_thread::sleep_for(std::chrono::milliseconds(1));
      }
      for (int pair = 0; pair < bytes_per_transfer / 6; ++pair) {
        simulator::WriteCountingPair(next_pair++, &transfer[static_cast<std::size_t>(pair) * 6]);
      }
      callback(transfer.data(), nullptr);
    }
    const std::uint64_t expected = blocks_before + static_cast<std::uint64_t>(transfers * blocks_per_transfer);
    while (CountingHost::Instance().blocks() < expected) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }

  testing::ScratchDirectory scratch_;
  testing::ManualClock clock_{kStart};
  std::shared_ptr<testing::Faults> faults_ = std::make_shared<testing::Faults>();
  testing::NativeModule module_{"", std::make_unique<testing::FakeDeviceLoader>(), nullptr, Options()};
};

TEST_F(RecordingPanelTest, RecAndStopSwitchTheArrangementsAroundAFinishedFile) {
  Click(panel::kRecButton);
  ExpectRecordingArrangement();
  EXPECT_TRUE(ui().timer_running());
  module_.panel().OnTimer();
  Click(panel::kStopButton);
  ExpectIdleArrangement();
  EXPECT_FALSE(ui().timer_running());
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102, 103}));
  EXPECT_TRUE(ui().errors().empty());
  ASSERT_EQ(scratch_.Names(), Names{kName});
  EXPECT_EQ(testing::ReadBytes(scratch_ / kName).size(), 90u);
  ExpectFinished(scratch_ / kName);
}

TEST_F(RecordingPanelTest, AFileThatCannotBeCreatedShowsOneMessageOverAnIdlePanel) {
  faults_->creates_before_failure = 0;
  faults_->create_error = EROFS;
  ui().ClearEvents();
  Click(panel::kRecButton);

  const auto errors = ui().errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find(kName), std::string::npos) << errors[0];
  EXPECT_NE(errors[0].find(std::strerror(EROFS)), std::string::npos) << errors[0];
  ExpectIdleArrangement();
  EXPECT_FALSE(ui().timer_running());
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102, 103}));
  // The panel was idle before the message showed.
  EXPECT_LT(EventIndex(testing::FakeUserInterface::EnableEvent(panel::kRecButton, true)), EventIndex("error " + errors[0]));

  Click(panel::kStopButton);
  ExpectIdleArrangement();
  EXPECT_EQ(ui().errors().size(), 1u);
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102, 103}));
}

TEST_F(RecordingPanelTest, AFailedWriteIsReportedAtTheNextTickOverAnIdlePanel) {
  faults_->write_budget = 90 + 6144 * 3;
  Click(panel::kRecButton);
  module_.plugin().StartHW(7050000);
  std::uint64_t next_pair = 0;
  Stream(next_pair, 8, 6144);
  module_.plugin().StopHW();
  ExpectRecordingArrangement();
  EXPECT_TRUE(ui().errors().empty());

  // The first tick after the writing thread met the full disk.
  ASSERT_TRUE(testing::Eventually([&] {
    module_.panel().OnTimer();
    return !ui().errors().empty();
  }));
  ASSERT_EQ(ui().errors().size(), 1u);
  EXPECT_NE(ui().errors()[0].find(std::strerror(ENOSPC)), std::string::npos);
  ExpectIdleArrangement();
  EXPECT_FALSE(ui().timer_running());
  EXPECT_EQ(RecordingStatuses(), (std::vector<int>{102, 103}));
  ExpectFinished(scratch_ / kName);
  EXPECT_EQ(SampleBytes(scratch_ / kName).size(), 3u * 6144);

  module_.panel().OnTimer();
  EXPECT_EQ(ui().errors().size(), 1u);
}

TEST_F(RecordingPanelTest, OpenHwDuringARecordingLeavesTheRecordersButtonsAndFieldsAlone) {
  Click(panel::kRecButton);
  ASSERT_TRUE(module_.plugin().OpenHW());
  EXPECT_TRUE(Enabled(panel::kStopButton));
  EXPECT_FALSE(Enabled(panel::kRecButton));
  EXPECT_EQ(ui().control(panel::kFileNameField).text, kName);
  Click(panel::kStopButton);
  ExpectFinished(scratch_ / kName);
}

// The real ring and delivery thread feed the recorder: every block reaches
// the file whole and in order, across a stop and restart of the stream.
TEST_F(RecordingPanelTest, BlocksFromTheStreamReachTheFileInOrderAcrossAStreamRestart) {
  Click(panel::kRecButton);
  std::uint64_t next_pair = 0;
  module_.plugin().StartHW(7050000);
  Stream(next_pair, 300, 6144);
  module_.plugin().StopHW();
  const std::uint64_t first_run = next_pair;
  module_.plugin().StartHW(7050000);
  Stream(next_pair, 200, 6144);
  module_.plugin().StopHW();
  Click(panel::kStopButton);

  const auto path = scratch_ / kName;
  ExpectFinished(path);
  const std::vector<std::uint8_t> samples = SampleBytes(path);
  ASSERT_EQ(samples.size(), next_pair * 6);
  for (std::uint64_t pair = 0; pair < next_pair; ++pair) {
    ASSERT_EQ(simulator::ReadCountingPair(&samples[pair * 6]), pair) << "pair " << pair << ", first run " << first_run;
  }
}

TEST_F(RecordingPanelTest, AtTwoMegaSamplesTheStreamIsRecordedAsRoundedSixteenBitPairs) {
  Click(panel::RateButtonFor(receiver::kTwoMegaSampleIndex));
  Click(panel::kRecButton);
  std::uint64_t next_pair = 0;
  module_.plugin().StartHW(7050000);
  Stream(next_pair, 40, 16 * 6144);  // 16 blocks per transfer at this rate
  module_.plugin().StopHW();
  Click(panel::kStopButton);

  const auto path = scratch_ / kName;
  ExpectFinished(path);
  const std::vector<std::uint8_t> samples = SampleBytes(path);
  ASSERT_EQ(samples.size(), next_pair * 4);
  std::vector<std::uint8_t> expected(4);
  for (std::uint64_t pair = 0; pair < next_pair; ++pair) {
    testing::StoreCountingPair(pair, receiver::kTwoMegaSampleIndex, expected.data());
    ASSERT_EQ(std::vector<std::uint8_t>(samples.begin() + static_cast<std::ptrdiff_t>(pair * 4),
                                        samples.begin() + static_cast<std::ptrdiff_t>(pair * 4 + 4)),
              expected)
        << pair;
  }
}

TEST_F(RecordingPanelTest, DestroyingTheModuleWhileRecordingFinishesTheFileQuietly) {
  Click(panel::kRecButton);
  std::uint64_t next_pair = 0;
  module_.plugin().StartHW(7050000);
  Stream(next_pair, 10, 6144);
  module_.plugin().stream().StopAsyncProcessing();
  ui().ClearEvents();
  CountingHost::Instance().Reset();
  module_.module.reset();
  EXPECT_TRUE(ui().events().empty());
  EXPECT_TRUE(CountingHost::Instance().statuses().empty());
  ExpectFinished(scratch_ / kName);
  EXPECT_EQ(SampleBytes(scratch_ / kName).size(), 10u * 6144);
}

}  // namespace
}  // namespace halvorn::recorder

// The receiver's operations seen from the device's side (every call in order,
// through the real binding) and from the panel's side (the UI seam).
#include <gtest/gtest.h>

#include "panel/control_ids.h"
#include "receiver/sample_rate_table.h"
#include "tests/support/counting_host.h"
#include "tests/support/fake_device.h"
#include "tests/support/native_module.h"
#include "tests/support/receiver_arithmetic.h"
#include "tests/unit/recorder_test_support.h"

namespace halvorn::receiver {
namespace {

using testing::FakeDevice;
using Strings = std::vector<std::string>;

std::vector<std::uint8_t> Bytes(const ControlRecord& record) {
  const auto bytes = EncodeControlRecord(record);
  return {bytes.begin(), bytes.end()};
}

class ReceiverTest : public ::testing::Test {
 protected:
  ReceiverTest() { FakeDevice::Instance().Reset(); }
  void SetUp() override {
    testing::CountingHost::Instance().Reset();
    ASSERT_TRUE(module_.Init());
    device().Reset();
  }

  static FakeDevice& device() { return FakeDevice::Instance(); }
  Receiver& receiver() { return module_.receiver(); }
  // The user picks a rate on the panel.
  void ChooseRate(int row) { receiver().SelectSampleRate(row, ChangedBy::kUser, plugin().stream()); }
  Module& plugin() { return module_.plugin(); }
  std::vector<std::uint8_t> LastRecord() { return Bytes(device().records().back()); }

  testing::NativeModule module_{"", std::make_unique<testing::FakeDeviceLoader>()};
};

TEST_F(ReceiverTest, OpenBringsTheReceiverToItsOpenTimeStateInOrder) {
  module_.ui.ClearEvents();
  module_.trace.Clear();
  ASSERT_TRUE(plugin().OpenHW());

  EXPECT_EQ(device().entries(), (Strings{"SetAttenuator", "SetPreselector", "Sio", "FpgaConfig"}));
  EXPECT_EQ(device().calls("SetAttenuator")[0].value, 0);
  EXPECT_EQ(device().calls("SetPreselector")[0].value, 10);  // no LO yet: wideband
  EXPECT_EQ(LastRecord(), (std::vector<std::uint8_t>{0x02, 0, 0, 0, 0}));
  EXPECT_EQ(device().calls("FpgaConfig")[0].text, "halvorn125k24v21");

  using UI = testing::FakeUserInterface;
  EXPECT_EQ(module_.ui.events(),
            (Strings{UI::CheckEvent(panel::kAttenuator0dB, true), UI::CheckEvent(panel::kAttenuator0dB + 1, false),
                     UI::CheckEvent(panel::kAttenuator0dB + 2, false), UI::CheckEvent(panel::kAttenuator30dB, false),
                     UI::CheckEvent(panel::kPreselector, true), UI::CheckEvent(panel::kAdcDither, true),
                     UI::CheckEvent(panel::kAdcPreamp, false), UI::EnableEvent(panel::kStopButton, false),
                     UI::EnableEvent(panel::kRecButton, true), UI::TextEvent(panel::kFileNameField, " "),
                     UI::TextEvent(panel::kFileSizeField, " "), UI::TextEvent(panel::kRecordingTimeField, " "),
                     UI::CheckEvent(panel::RateButtonFor(0), true), UI::CheckEvent(panel::RateButtonFor(1), false),
                     UI::CheckEvent(panel::RateButtonFor(2), false), UI::CheckEvent(panel::RateButtonFor(3), false),
                     UI::CheckEvent(panel::RateButtonFor(4), false), UI::CheckEvent(panel::RateButtonFor(5), false),
                     UI::CheckEvent(panel::RateButtonFor(6), false), UI::CheckEvent(panel::RateButtonFor(7), false),
                     UI::CheckEvent(panel::RateButtonFor(8), false), "show-panel"}));
  EXPECT_EQ(module_.trace.texts(),
            (Strings{"OpenHW", "Initializing CtlDialog", "Attenuator set", "Preselector ...", "Set to WB",
                     "ADC set", "Halvorn FpgaConfig ok..."}));
  const ReceiverSettings settings = receiver().Settings();
  EXPECT_EQ(settings.attenuator_step, 0);
  EXPECT_TRUE(settings.preselector_on);
  EXPECT_TRUE(settings.adc_dither_on);
  EXPECT_FALSE(settings.adc_preamp_on);
}

TEST_F(ReceiverTest, OpenAfterATuneSelectsTheBandOfThatLo) {
  plugin().SetHWLO(14100000);
  device().Reset();
  plugin().OpenHW();
  EXPECT_EQ(device().calls("SetPreselector")[0].value, 7);
  // The switches go back to their starting settings; the tuning stays where
  // GetHWLO says.
  EXPECT_EQ(device().records().back().flags, 0x02);
  EXPECT_EQ(device().records().back().nco_word, testing::ExpectedNcoWord(14100000, 80000000));
  EXPECT_EQ(plugin().GetHWLO(), 14100000);
}

TEST_F(ReceiverTest, TuningSendsTheNcoWordAndFollowsTheBandPlan) {
  plugin().OpenHW();
  device().Reset();
  EXPECT_EQ(plugin().SetHWLO(7050000), 0);
  EXPECT_EQ(device().entries(), (Strings{"Sio", "SetPreselector"}));
  EXPECT_EQ(LastRecord(), (std::vector<std::uint8_t>{0x02, 0x28, 0x5C, 0x8F, 0x16}));
  EXPECT_EQ(device().calls("SetPreselector")[0].value, 5);

  // Both ends of the host's range tune the frequency the host is told: the
  // top's word is still positive.
  for (const std::int32_t lo_hz : {10000000, 39999999, 0}) {
    device().Reset();
    EXPECT_EQ(plugin().SetHWLO(lo_hz), 0);
    EXPECT_EQ(device().records().back().nco_word, testing::ExpectedNcoWord(lo_hz, 80000000)) << lo_hz;
    EXPECT_LT(device().records().back().nco_word, 0x80000000u) << lo_hz;
    EXPECT_EQ(device().calls("SetPreselector").size(), 1u);
  }
  // The receiver's own tuning has no range check: half the clock and a
  // negative LO are tuned as given, to negative frequencies.
  receiver().SetLO(40000000);
  EXPECT_EQ(device().records().back().nco_word, 0x80000000u);
  receiver().SetLO(-1000);
  EXPECT_EQ(device().records().back().nco_word, 0xFFFF2E49u);
}

TEST_F(ReceiverTest, SetHwLoRefusesOutOfRangeValuesWithoutTouchingAnything) {
  plugin().OpenHW();
  plugin().SetHWLO(7050000);
  device().Reset();
  // Above: the highest LO supported, the last hertz below half the clock;
  // below: a negative number.
  for (const std::int32_t above : {40000000, 40000001, 2147483647}) EXPECT_EQ(plugin().SetHWLO(above), 39999999);
  EXPECT_EQ(plugin().SetHWLO(-1), -1);
  EXPECT_LT(plugin().SetHWLO(-2147483647 - 1), 0);
  EXPECT_TRUE(device().calls().empty());
  EXPECT_EQ(plugin().GetHWLO(), 7050000);
  EXPECT_EQ(receiver().state().lo_hz, 7050000);
  EXPECT_EQ(plugin().SetHWLO(39999999), 0);
  EXPECT_EQ(plugin().GetHWLO(), 39999999);
  EXPECT_EQ(plugin().SetHWLO(0), 0);
  EXPECT_EQ(plugin().GetHWLO(), 0);
}

TEST_F(ReceiverTest, EveryTuneSendsOnceEvenWhenNothingChanged) {
  plugin().OpenHW();
  for (int i = 0; i < 3; ++i) plugin().SetHWLO(7050000);
  EXPECT_EQ(device().calls("Sio").size(), 4u);  // OpenHW + three tunes
  EXPECT_EQ(device().calls("SetPreselector").size(), 4u);
}

TEST_F(ReceiverTest, WithThePreselectorOffTuningLeavesItAlone) {
  plugin().OpenHW();
  receiver().EnablePreselector(false);
  EXPECT_EQ(device().calls("SetPreselector").back().value, 10);
  device().Reset();
  plugin().SetHWLO(7050000);
  plugin().StartHW(3500000);
  plugin().StopHW();
  EXPECT_TRUE(device().calls("SetPreselector").empty());
}

TEST_F(ReceiverTest, EnablingThePreselectorBeforeAnyLoPicksTheLowestBand) {
  receiver().EnablePreselector(true);
  EXPECT_EQ(device().calls("SetPreselector").back().value, 0);
  EXPECT_TRUE(receiver().Settings().preselector_on);
  receiver().EnablePreselector(false);
  EXPECT_EQ(device().calls("SetPreselector").back().value, 10);
  EXPECT_FALSE(receiver().Settings().preselector_on);
}

TEST_F(ReceiverTest, SwitchesChangeOnlyTheirOwnBit) {
  plugin().OpenHW();
  receiver().SetAdcPreamp(true);
  EXPECT_EQ(LastRecord(), (std::vector<std::uint8_t>{0x06, 0, 0, 0, 0}));
  module_.plugin().stream().StartAsyncProcessingExt(0, nullptr);  // sets bit 0
  receiver().SetAdcDither(false);
  EXPECT_EQ(device().records().back().flags, 0x05);
  plugin().SetHWLO(7050000);
  EXPECT_EQ(LastRecord(), (std::vector<std::uint8_t>{0x05, 0x28, 0x5C, 0x8F, 0x16}));
  module_.plugin().stream().StopAsyncProcessing();
  EXPECT_EQ(device().records().back().flags, 0x04);
  EXPECT_TRUE(receiver().Settings().adc_preamp_on);
  EXPECT_FALSE(receiver().Settings().adc_dither_on);
}

TEST_F(ReceiverTest, AttenuatorStepsTravelAsSmallIntegers) {
  for (int step = 0; step <= 3; ++step) {
    receiver().SetAttenuatorStep(step);
    EXPECT_EQ(device().calls("SetAttenuator").back().value, step);
    EXPECT_EQ(receiver().Settings().attenuator_step, step);
  }
  receiver().SetAttenuatorStep(3);  // the same step again is sent again
  EXPECT_EQ(device().calls("SetAttenuator").size(), 5u);
}

TEST_F(ReceiverTest, ARateChangeIsTakenAtOnceAndLoadedAtTheNextTune) {
  plugin().OpenHW();
  plugin().SetCallback(&testing::CountingHost::Callback);
  device().Reset();
  module_.ui.ClearEvents();
  ChooseRate(4);
  EXPECT_EQ(plugin().GetHWSR(), 2000000);
  EXPECT_EQ(testing::CountingHost::Instance().statuses(), (std::vector<int>{100}));
  EXPECT_EQ(module_.ui.events(), (Strings{"wait-cursor", "restore-cursor"}));
  EXPECT_TRUE(device().calls().empty());

  plugin().SetHWLO(7050000);
  EXPECT_EQ(device().entries(), (Strings{"FpgaConfig", "Sio", "SetPreselector"}));
  EXPECT_EQ(device().calls("FpgaConfig")[0].text, "halvorn2m24v21");
  EXPECT_EQ(device().calls("FpgaConfig")[0].bytes[0], kDescriptorRecords[4][0]);
  device().Reset();
  plugin().SetHWLO(7050000);
  EXPECT_TRUE(device().calls("FpgaConfig").empty());
}

TEST_F(ReceiverTest, SeveralRateChangesBeforeATuneLoadOnlyTheLastRow) {
  plugin().OpenHW();
  plugin().SetCallback(&testing::CountingHost::Callback);
  device().Reset();
  ChooseRate(6);
  ChooseRate(8);
  plugin().StartHW(7050000);
  plugin().StopHW();
  EXPECT_EQ(testing::CountingHost::Instance().statuses(), (std::vector<int>{100, 100}));
  ASSERT_EQ(device().calls("FpgaConfig").size(), 1u);
  EXPECT_EQ(device().calls("FpgaConfig")[0].text, "halvorn192k24v31");
  // The stream started at the new row's transfer size.
  EXPECT_EQ(device().calls("StartAsyncInput")[0].value, 12288);

  device().Reset();
  ChooseRate(2);
  ChooseRate(8);  // back to the row in use before
  plugin().SetHWLO(7050000);
  ASSERT_EQ(device().calls("FpgaConfig").size(), 1u);
  EXPECT_EQ(device().calls("FpgaConfig")[0].text, "halvorn192k24v31");
}

TEST_F(ReceiverTest, ChoosingTheRowInUseDoesNothing) {
  plugin().OpenHW();
  plugin().SetCallback(&testing::CountingHost::Callback);
  module_.ui.ClearEvents();
  device().Reset();
  ChooseRate(0);
  plugin().SetHWLO(7050000);
  EXPECT_TRUE(testing::CountingHost::Instance().statuses().empty());
  EXPECT_TRUE(module_.ui.events().empty());
  EXPECT_TRUE(device().calls("FpgaConfig").empty());
}

TEST_F(ReceiverTest, WithoutACallbackARateChangeIsStillLoadedLater) {
  plugin().OpenHW();
  ChooseRate(3);
  EXPECT_EQ(plugin().GetHWSR(), 1000000);
  device().Reset();
  plugin().SetHWLO(7050000);
  EXPECT_EQ(device().calls("FpgaConfig")[0].text, "halvorn1m24v21");
}

TEST_F(ReceiverTest, AFailedLoadIsReportedOncePerAttemptAndNotRetried) {
  device().SetResult("FpgaConfig", 1);
  plugin().OpenHW();
  EXPECT_EQ(module_.ui.errors(), (Strings{"FPGA configuration file not found\nPlease check installation and retry"}));
  EXPECT_EQ(plugin().SetHWLO(7050000), 0);
  EXPECT_EQ(module_.ui.errors().size(), 1u);

  ChooseRate(4);
  EXPECT_EQ(plugin().StartHW(7050000), 1024);
  plugin().StopHW();
  EXPECT_EQ(module_.ui.errors().size(), 2u);
  EXPECT_EQ(plugin().GetHWSR(), 2000000);
  EXPECT_EQ(plugin().SetHWLO(7050000), 0);
  EXPECT_EQ(module_.ui.errors().size(), 2u);
  EXPECT_EQ(device().calls("FpgaConfig").size(), 2u);
}

TEST_F(ReceiverTest, AMissingFpgaConfigEntryIsReportedLikeAFailure) {
  testing::NativeModule module("", std::make_unique<testing::FakeDeviceLoader>(std::set<std::string>{"FpgaConfig"}));
  ASSERT_TRUE(module.Init());
  module.plugin().OpenHW();
  EXPECT_EQ(module.ui.errors().size(), 1u);
}

TEST_F(ReceiverTest, CalibrationCorrectsTheClockAndRetunes) {
  plugin().OpenHW();
  plugin().SetHWLO(10000000);
  plugin().TuneChanged(10000100);
  device().Reset();
  receiver().CalibrateClock();
  EXPECT_EQ(receiver().state().reference_clock_hz, 79999200);
  EXPECT_EQ(device().entries(), (Strings{"Sio", "SetPreselector"}));
  EXPECT_EQ(device().records().back().nco_word, NcoWord(10000000, 79999200));
  // The host's rate stays nominal.
  EXPECT_EQ(plugin().GetHWSR(), 125000);
}

TEST_F(ReceiverTest, CalibrationExamples) {
  const std::pair<std::int32_t, std::int32_t> examples[] = {
      {10000100, 79999200}, {9999900, 80000800}, {7000500, 80005713}, {15000000, 80000000}};
  for (const auto& [tuned, clock] : examples) {
    testing::NativeModule module("", std::make_unique<testing::FakeDeviceLoader>());
    module.plugin().TuneChanged(tuned);
    module.receiver().CalibrateClock();
    EXPECT_EQ(module.receiver().state().reference_clock_hz, clock) << tuned;
  }
}

TEST_F(ReceiverTest, CalibrationWithoutASoundTunedFrequencyChangesNothing) {
  plugin().OpenHW();
  plugin().SetHWLO(7050000);
  for (std::int32_t tuned : {0, 499, -500, 300}) {
    plugin().TuneChanged(tuned);
    device().Reset();
    receiver().CalibrateClock();
    EXPECT_EQ(receiver().state().reference_clock_hz, 80000000) << tuned;
    EXPECT_TRUE(device().calls().empty()) << tuned;
  }
}

TEST_F(ReceiverTest, CalibrationPerformsAPendingLoad) {
  plugin().OpenHW();
  ChooseRate(7);
  plugin().TuneChanged(7050000);
  device().Reset();
  receiver().CalibrateClock();
  EXPECT_EQ(device().entries(), (Strings{"FpgaConfig", "Sio", "SetPreselector"}));
}

TEST_F(ReceiverTest, ASecondOpenResetsTheFrontEndButKeepsRateAndClock) {
  plugin().OpenHW();
  plugin().SetHWLO(10000000);
  plugin().TuneChanged(10000100);
  receiver().CalibrateClock();
  receiver().SetAttenuatorStep(2);
  receiver().SetAdcPreamp(true);
  ChooseRate(5);
  device().Reset();
  plugin().OpenHW();
  EXPECT_EQ(receiver().Settings().attenuator_step, 0);
  EXPECT_FALSE(receiver().Settings().adc_preamp_on);
  EXPECT_EQ(receiver().state().reference_clock_hz, 79999200);
  EXPECT_EQ(device().calls("FpgaConfig")[0].text, "halvorn95k24v31");
  EXPECT_EQ(module_.ui.control(panel::RateButtonFor(5)).check, 1);
  // The pending mark was cleared by that load.
  device().Reset();
  plugin().SetHWLO(7050000);
  EXPECT_TRUE(device().calls("FpgaConfig").empty());
}

TEST_F(ReceiverTest, OpenWhileStreamingKeepsTheStreamingBitAndTheTuning) {
  plugin().OpenHW();
  EXPECT_EQ(LastRecord(), (std::vector<std::uint8_t>{0x02, 0, 0, 0, 0}));
  plugin().StartHW(7050000);
  device().Reset();
  plugin().OpenHW();
  EXPECT_EQ(LastRecord(), (std::vector<std::uint8_t>{0x03, 0x28, 0x5C, 0x8F, 0x16}));
  EXPECT_EQ(plugin().GetHWLO(), 7050000);
  plugin().StopHW();
  EXPECT_EQ(LastRecord(), (std::vector<std::uint8_t>{0x02, 0x28, 0x5C, 0x8F, 0x16}));
}

TEST(ReceiverOpenTest, OpenWhileRecordingLeavesTheRecorderControlsAlone) {
  FakeDevice::Instance().Reset();
  testing::ScratchDirectory scratch;
  recorder::RecorderOptions options;
  options.directory = recorder::MakePlatformRecordingDirectory(scratch.path().string());
  testing::NativeModule module("", std::make_unique<testing::FakeDeviceLoader>(), nullptr, std::move(options));
  ASSERT_TRUE(module.Init());
  module.panel().OnClick(panel::kRecButton);
  ASSERT_TRUE(module.recorder().IsRecording());
  module.ui.ClearEvents();
  module.plugin().OpenHW();
  ASSERT_FALSE(module.ui.events().empty());
  for (const auto& event : module.ui.events()) {
    EXPECT_EQ(event.find(std::to_string(panel::kStopButton)), std::string::npos) << event;
    EXPECT_EQ(event.find(std::to_string(panel::kRecButton)), std::string::npos) << event;
    EXPECT_EQ(event.find("text"), std::string::npos) << event;
  }
}

}  // namespace
}  // namespace halvorn::receiver

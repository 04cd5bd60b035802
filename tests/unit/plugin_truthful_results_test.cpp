// What the plug-in tells the host and the user matches what happened: a
// start that streams nothing fails, an LO the receiver did not take is not
// reported as tuned, a closed receiver comes back at OpenHW, a recording's
// header tells the rate of its samples, and losses and a silent receiver are
// said.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <mutex>
#include <thread>

#include "tests/support/counting_host.h"
#include "panel/control_ids.h"
#include "receiver/tuning.h"
#include "simulator/counting_pattern.h"
#include "tests/support/fake_device.h"
#include "tests/support/native_module.h"
#include "tests/support/receiver_arithmetic.h"
#include "tests/unit/recorder_test_support.h"

namespace halvorn {
namespace {

using testing::CountingHost;
using testing::FakeDevice;
using testing::FakeDeviceLoader;
using Strings = std::vector<std::string>;

std::vector<int> LoChanges() {
  std::vector<int> changes;
  for (int status : CountingHost::Instance().statuses()) {
    if (status == kStatusLoChanged) changes.push_back(status);
  }
  return changes;
}

class TruthfulResultsTest : public ::testing::Test {
 protected:
  TruthfulResultsTest() {
    FakeDevice::Instance().Reset();
    CountingHost::Instance().Reset();
  }
  ~TruthfulResultsTest() override { CountingHost::Instance().SetBlockObserver(nullptr, nullptr); }

  void SetUp() override { module_.plugin().SetCallback(&CountingHost::Callback); }

  bool Init() {
    char name[32] = {};
    char model[32] = {};
    int type = 0;
    return module_.plugin().InitHW(name, model, &type);
  }
  Module& plugin() { return module_.plugin(); }
  FakeDevice& device() { return FakeDevice::Instance(); }

  recorder::RecorderOptions Options() {
    recorder::RecorderOptions options;
    options.directory = recorder::MakePlatformRecordingDirectory(scratch_.path().string());
    return options;
  }

  // Plays the library's input thread: `blocks` blocks of the counting pattern,
  // one transfer of one block each.
  void Deliver(int blocks) {
    const auto callback = device().transfer_callback.load();
    ASSERT_NE(callback, nullptr);
    std::vector<std::uint8_t> transfer(kBlockBytes);
    for (int block = 0; block < blocks; ++block) {
      for (int pair = 0; pair < kBlockPairs; ++pair) {
        simulator::WriteCountingPair(next_pair_++, &transfer[static_cast<std::size_t>(pair) * kPairBytes]);
      }
      callback(transfer.data(), nullptr);
    }
  }
  static bool WaitFor(const std::function<bool()>& done) {
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(30);
    while (!done()) {
      if (std::chrono::steady_clock::now() > give_up) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(2));
    }
    return true;
  }

  testing::ScratchDirectory scratch_;
  testing::NativeModule module_{"", std::make_unique<FakeDeviceLoader>(), nullptr, Options()};
  std::uint64_t next_pair_ = 0;
};

TEST_F(TruthfulResultsTest, StartHwFailsWheneverNothingStreamsAfterIt) {
  // Before InitHW there is no receiver to start.
  EXPECT_EQ(plugin().StartHW(7050000), -1);
  EXPECT_TRUE(device().calls().empty());
  EXPECT_FALSE(plugin().stream().IsStreaming());

  ASSERT_TRUE(Init());
  plugin().OpenHW();
  // A device that refuses its input: nothing streams, nothing is left running.
  device().SetResult("StartAsyncInput", 0);
  EXPECT_EQ(plugin().StartHW(7050000), -1);
  EXPECT_EQ(device().calls("StartAsyncInput").size(), 1u);
  EXPECT_FALSE(plugin().stream().IsStreaming());
  EXPECT_EQ(device().records().back().flags & receiver::kFlagStreaming, 0);

  // Started: 1024, and a second start while streaming still streams.
  device().SetResult("StartAsyncInput", 1);
  EXPECT_EQ(plugin().StartHW(7050000), 1024);
  EXPECT_EQ(plugin().StartHW(7050000), 1024);
  EXPECT_TRUE(plugin().stream().IsStreaming());

  // A stop the device refused: the next start must not read its transfers.
  device().SetResult("StopAsyncInput", 0);
  plugin().StopHW();
  const std::size_t starts = device().calls("StartAsyncInput").size();
  EXPECT_EQ(plugin().StartHW(7050000), -1);
  EXPECT_EQ(device().calls("StartAsyncInput").size(), starts);
  device().SetResult("StopAsyncInput", 1);
  EXPECT_EQ(plugin().StartHW(7050000), 1024);
  plugin().StopHW();

  // After CloseHW the receiver is gone until it is opened again.
  ASSERT_TRUE(plugin().CloseHW());
  EXPECT_EQ(plugin().StartHW(7050000), -1);
  EXPECT_FALSE(plugin().stream().IsStreaming());
}

TEST_F(TruthfulResultsTest, StartHwTunesTheNearerEndOfTheRangeAndTellsTheHost) {
  ASSERT_TRUE(Init());
  plugin().OpenHW();
  // The top of the range is the last hertz below half the clock: its word is
  // still positive, so the receiver is tuned where GetHWLO says.
  EXPECT_EQ(plugin().StartHW(100000000), 1024);
  EXPECT_EQ(plugin().GetHWLO(), 39999999);
  EXPECT_EQ(device().records().back().nco_word, testing::ExpectedNcoWord(39999999, 80000000));
  EXPECT_LT(device().records().back().nco_word, 0x80000000u);
  EXPECT_EQ(LoChanges().size(), 1u);
  plugin().StopHW();

  EXPECT_EQ(plugin().StartHW(-5), 1024);
  EXPECT_EQ(plugin().GetHWLO(), 0);
  EXPECT_EQ(LoChanges().size(), 2u);
  plugin().StopHW();

  // An LO in range is tuned as given, without a word to the host.
  EXPECT_EQ(plugin().StartHW(39999999), 1024);
  EXPECT_EQ(plugin().GetHWLO(), 39999999);
  EXPECT_EQ(LoChanges().size(), 2u);
  plugin().StopHW();
}

TEST_F(TruthfulResultsTest, AControlRecordTheReceiverRefusesLeavesTheLoWhereItWas) {
  ASSERT_TRUE(Init());
  plugin().OpenHW();
  ASSERT_EQ(plugin().SetHWLO(7050000), 0);
  device().Reset();
  device().SetResult("Sio", -1);

  EXPECT_EQ(plugin().SetHWLO(10000000), 0);
  EXPECT_EQ(plugin().GetHWLO(), 7050000);
  EXPECT_EQ(LoChanges().size(), 1u);
  // It was asked, and said no.
  EXPECT_EQ(device().records().back().nco_word, testing::ExpectedNcoWord(10000000, 80000000));
  // Neither is the band changed for an LO the receiver does not have.
  EXPECT_TRUE(device().calls("SetPreselector").empty());

  // The next record that goes through still carries the LO really tuned.
  device().SetResult("Sio", 0);
  module_.ui.SetCheck(panel::kAdcPreamp, true);
  module_.panel().OnClick(panel::kAdcPreamp);
  EXPECT_EQ(device().records().back().nco_word, receiver::NcoWord(7050000, 80000000));
  EXPECT_EQ(plugin().SetHWLO(10000000), 0);
  EXPECT_EQ(plugin().GetHWLO(), 10000000);
  EXPECT_EQ(LoChanges().size(), 1u);
}

TEST_F(TruthfulResultsTest, OpenHwBringsAClosedReceiverBackAndItStreams) {
  ASSERT_TRUE(Init());
  plugin().OpenHW();
  ASSERT_TRUE(plugin().CloseHW());
  device().Reset();

  ASSERT_TRUE(plugin().OpenHW());
  const Strings entries = device().entries();
  ASSERT_GE(entries.size(), 2u);
  EXPECT_EQ(Strings(entries.begin(), entries.begin() + 2), (Strings{"Open", "FirmwareDownload"}));
  EXPECT_TRUE(module_.ui.errors().empty());
  EXPECT_EQ(plugin().StartHW(7050000), 1024);
  Deliver(3);
  EXPECT_TRUE(WaitFor([] { return CountingHost::Instance().blocks() == 3; }));
  plugin().StopHW();
}

TEST_F(TruthfulResultsTest, OpenHwFailsWhenAClosedReceiverCannotComeBack) {
  auto loader = std::make_unique<FakeDeviceLoader>();
  FakeDeviceLoader& library = *loader;
  testing::NativeModule module("", std::move(loader));
  char name[32], model[32];
  int type = 0;
  ASSERT_TRUE(module.plugin().InitHW(name, model, &type));
  ASSERT_TRUE(module.plugin().CloseHW());

  library.set_loadable(false);
  EXPECT_FALSE(module.plugin().OpenHW());
  EXPECT_EQ(module.ui.errors(), (Strings{"halvornusb.dll not found"}));

  library.set_loadable(true);
  FakeDevice::Instance().SetResult("Open", 0);
  EXPECT_FALSE(module.plugin().OpenHW());
  EXPECT_EQ(module.ui.errors().size(), 1u);
  FakeDevice::Instance().SetResult("Open", 1);
  EXPECT_TRUE(module.plugin().OpenHW());
}

TEST_F(TruthfulResultsTest, EachRadioGroupShowsExactlyTheReceiversSetting) {
  ASSERT_TRUE(Init());
  plugin().OpenHW();
  for (int id : {panel::kAttenuator30dB, panel::RateButtonFor(4)}) {
    module_.ui.SetCheck(id, true);  // an automatic radio button marks itself
    module_.panel().OnClick(id);
  }
  plugin().OpenHW();
  for (int id = panel::kAttenuator0dB; id <= panel::kAttenuator30dB; ++id) {
    EXPECT_EQ(module_.ui.control(id).check, id == panel::kAttenuator0dB ? 1 : 0) << id;
  }
  for (int id = panel::kFirstRateButton; id <= panel::kLastRateButton; ++id) {
    EXPECT_EQ(module_.ui.control(id).check, id == panel::RateButtonFor(4) ? 1 : 0) << id;
  }
}

// A rate chosen while the stream runs is in force at once: the input stops,
// the row's bitstream and the control record go to the receiver, the input
// restarts with the row's transfers, and only then is the host told (100
// after a click, nothing after its own ExtIoSetSrate). A bitstream the
// receiver refuses leaves the row in force as it was, with the message.
TEST_F(TruthfulResultsTest, ARateChosenWhileStreamingIsInForceAtOnceAndARefusedOneNot) {
  ASSERT_TRUE(Init());
  plugin().OpenHW();
  ASSERT_EQ(plugin().StartHW(7050000), 1024);
  device().Reset();
  module_.panel().OnClick(panel::RateButtonFor(1));
  EXPECT_EQ(device().entries(), (Strings{"StopAsyncInput", "FpgaConfig", "Sio", "StartAsyncInput"}));
  EXPECT_EQ(device().calls("FpgaConfig")[0].text, "halvorn250k24v21");
  EXPECT_EQ(device().calls("StartAsyncInput")[0].value, 12288);
  EXPECT_EQ(device().records().back().nco_word, testing::ExpectedNcoWord(7050000, 80000000));
  EXPECT_EQ(plugin().GetHWSR(), 250000);
  EXPECT_EQ(CountingHost::Instance().statuses(), std::vector<int>{kStatusSampleRateChanged});

  device().Reset();
  EXPECT_EQ(plugin().ExtIoSetSrate(3), 0);
  EXPECT_EQ(device().calls("StartAsyncInput")[0].value, 49152);
  EXPECT_EQ(plugin().ExtIoGetActualSrateIdx(), 3);
  EXPECT_EQ(CountingHost::Instance().statuses().size(), 1u);

  device().Reset();
  device().SetResult("FpgaConfig", -1);
  module_.panel().OnClick(panel::RateButtonFor(4));
  EXPECT_NE(plugin().ExtIoSetSrate(4), 0);
  EXPECT_EQ(device().calls("StartAsyncInput")[0].value, 49152);
  EXPECT_EQ(plugin().GetHWSR(), 1000000);
  EXPECT_EQ(module_.ui.control(panel::RateButtonFor(3)).check, 1);
  EXPECT_EQ(module_.ui.errors(), (Strings{receiver::kBitstreamMissingMessage, receiver::kBitstreamMissingMessage}));
  EXPECT_EQ(CountingHost::Instance().statuses().size(), 1u);
  plugin().StopHW();
}

// Chosen while nothing streams, the rate waits for the next start, or for
// Rec, which loads it so the header tells the rate the samples will have;
// refused then, the row in force before comes back and the host, told of the
// refused one, hears of it.
TEST_F(TruthfulResultsTest, ARateChosenWhileIdleLoadsAtRecOrTheNextStartAndARefusedOneGoesBack) {
  ASSERT_TRUE(Init());
  plugin().OpenHW();
  module_.panel().OnClick(panel::RateButtonFor(4));
  EXPECT_EQ(plugin().GetHWSR(), 2000000);
  device().Reset();
  module_.panel().OnClick(panel::kRecButton);
  ASSERT_TRUE(module_.recorder().IsRecording());
  ASSERT_EQ(device().calls("FpgaConfig").size(), 1u);
  EXPECT_EQ(device().calls("FpgaConfig")[0].text, "halvorn2m24v21");
  module_.panel().OnClick(panel::kStopButton);
  const auto names = scratch_.Names();
  ASSERT_EQ(names.size(), 1u);
  const auto header = testing::ReadBytes(scratch_ / names[0]);
  ASSERT_GE(header.size(), 90u);
  EXPECT_EQ(header[24] | header[25] << 8 | header[26] << 16, 2000000);  // sample rate
  EXPECT_EQ(header[34], 16);                                            // bits per sample
  EXPECT_EQ(header[48], 4);                                             // the rate's row

  module_.panel().OnClick(panel::RateButtonFor(2));
  device().SetResult("FpgaConfig", -1);
  CountingHost::Instance().Reset();
  ASSERT_EQ(plugin().StartHW(7050000), 1024);
  EXPECT_EQ(plugin().GetHWSR(), 2000000);
  EXPECT_EQ(device().calls("StartAsyncInput").back().value, 98304);
  EXPECT_EQ(module_.ui.control(panel::RateButtonFor(4)).check, 1);
  EXPECT_EQ(CountingHost::Instance().statuses(), (std::vector<int>{kStatusSampleRateChanged}));
  plugin().StopHW();
}

TEST_F(TruthfulResultsTest, WhileRecordingTheSettingsTakeNoCommandAndKeepTheirMarks) {
  ASSERT_TRUE(Init());
  plugin().OpenHW();
  module_.panel().OnClick(panel::kRecButton);
  ASSERT_TRUE(module_.recorder().IsRecording());
  const receiver::ReceiverSettings before = module_.receiver().Settings();
  device().Reset();

  // Commands a host sends for the disabled controls, each after the click
  // mark the platform's automatic buttons would set.
  for (int id : {panel::kAttenuator30dB, panel::RateButtonFor(4), panel::kAdcPreamp, panel::kAdcDither,
                 panel::kPreselector}) {
    module_.ui.Toggle(id);
    module_.panel().OnClick(id);
  }
  plugin().TuneChanged(10000100);
  module_.panel().OnClick(panel::kClockCalibrate);

  EXPECT_TRUE(device().calls().empty());
  const receiver::ReceiverSettings after = module_.receiver().Settings();
  EXPECT_EQ(after.attenuator_step, before.attenuator_step);
  EXPECT_EQ(after.sample_rate_index, before.sample_rate_index);
  EXPECT_EQ(after.adc_preamp_on, before.adc_preamp_on);
  EXPECT_EQ(after.adc_dither_on, before.adc_dither_on);
  EXPECT_EQ(after.preselector_on, before.preselector_on);
  EXPECT_EQ(module_.receiver().state().reference_clock_hz, 80000000);
  EXPECT_EQ(plugin().GetHWSR(), 125000);
  EXPECT_EQ(module_.ui.control(panel::kAttenuator0dB).check, 1);
  EXPECT_EQ(module_.ui.control(panel::kAttenuator30dB).check, 0);
  EXPECT_EQ(module_.ui.control(panel::RateButtonFor(0)).check, 1);
  EXPECT_EQ(module_.ui.control(panel::RateButtonFor(4)).check, 0);
  EXPECT_EQ(module_.ui.control(panel::kAdcPreamp).check, 0);
  EXPECT_EQ(module_.ui.control(panel::kAdcDither).check, 1);
  EXPECT_EQ(module_.ui.control(panel::kPreselector).check, 1);
  module_.panel().OnClick(panel::kStopButton);
}

TEST_F(TruthfulResultsTest, ACalibrationNoCrystalNeedsIsRefusedWithAMessage) {
  ASSERT_TRUE(Init());
  plugin().OpenHW();
  ASSERT_EQ(plugin().SetHWLO(7050000), 0);
  plugin().TuneChanged(1499);
  device().Reset();
  module_.panel().OnClick(panel::kClockCalibrate);
  EXPECT_EQ(module_.ui.errors(), (Strings{receiver::kCalibrationRefusedMessage}));
  EXPECT_EQ(module_.receiver().state().reference_clock_hz, 80000000);
  EXPECT_TRUE(device().calls().empty());
  // A real crystal error is still taken.
  plugin().TuneChanged(10000100);
  module_.panel().OnClick(panel::kClockCalibrate);
  EXPECT_EQ(module_.receiver().state().reference_clock_hz, 79999200);
  EXPECT_EQ(module_.ui.errors().size(), 1u);
}

// A calibration while the receiver is closed brings an LO at the top down
// with the clock all the same: OpenHW then tunes where GetHWLO says, with a
// word that does not wrap below zero.
TEST_F(TruthfulResultsTest, ACalibrationWhileClosedBringsTheTopLoDownForTheNextOpen) {
  ASSERT_TRUE(Init());
  plugin().OpenHW();
  ASSERT_EQ(plugin().StartHW(39999999), 1024);
  plugin().StopHW();
  plugin().TuneChanged(10000100);
  ASSERT_TRUE(plugin().CloseHW());
  module_.panel().OnClick(panel::kClockCalibrate);
  const std::int32_t top = receiver::HighestLoHz(79999200);
  EXPECT_EQ(plugin().GetHWLO(), top);
  EXPECT_EQ(LoChanges().size(), 1u);
  plugin().OpenHW();
  EXPECT_EQ(device().records().back().nco_word, testing::ExpectedNcoWord(top, 79999200));
  EXPECT_LT(device().records().back().nco_word, 0x80000000u);
}

// Holds the host's callback until released, as a host busy elsewhere would.
struct HeldHost {
  std::mutex mutex;
  std::condition_variable released_cv;
  bool released = false;
  std::atomic<int> blocks_seen{0};

  static void Observe(const std::uint8_t*, void* context) {
    auto& self = *static_cast<HeldHost*>(context);
    ++self.blocks_seen;
    std::unique_lock lock(self.mutex);
    self.released_cv.wait(lock, [&] { return self.released; });
  }
  void Release() {
    {
      std::lock_guard lock(mutex);
      released = true;
    }
    released_cv.notify_all();
  }
};

TEST_F(TruthfulResultsTest, ARecordingThatLostBlocksSaysHowMuchWhenItStops) {
  ASSERT_TRUE(Init());
  plugin().OpenHW();
  ASSERT_EQ(plugin().StartHW(7050000), 1024);
  module_.panel().OnClick(panel::kRecButton);
  Deliver(1);
  ASSERT_TRUE(WaitFor([] { return CountingHost::Instance().blocks() == 1; }));

  HeldHost host;
  CountingHost::Instance().SetBlockObserver(&HeldHost::Observe, &host);
  Deliver(1);
  ASSERT_TRUE(WaitFor([&] { return host.blocks_seen == 1; }));
  // With the host on one slot the ring takes 511 more; the rest is lost.
  Deliver(511 + 101);
  host.Release();
  ASSERT_TRUE(WaitFor([] { return CountingHost::Instance().blocks() == 2 + 511; }));
  CountingHost::Instance().SetBlockObserver(nullptr, nullptr);
  Deliver(1);
  ASSERT_TRUE(WaitFor([] { return CountingHost::Instance().blocks() == 2 + 511 + 1; }));

  module_.ui.ClearEvents();
  module_.panel().OnClick(panel::kStopButton);
  const Strings errors = module_.ui.errors();
  ASSERT_EQ(errors.size(), 1u);
  EXPECT_NE(errors[0].find("Recording incomplete: 101 blocks of samples (0.83 s) were lost"), std::string::npos)
      << errors[0];
  plugin().StopHW();
  EXPECT_EQ(plugin().stream().dropped_blocks(), 101u);
}

TEST_F(TruthfulResultsTest, BlocksLostBeforeARecordingStartedAreNotItsLoss) {
  ASSERT_TRUE(Init());
  plugin().OpenHW();
  ASSERT_EQ(plugin().StartHW(7050000), 1024);
  HeldHost host;
  CountingHost::Instance().SetBlockObserver(&HeldHost::Observe, &host);
  Deliver(1);
  ASSERT_TRUE(WaitFor([&] { return host.blocks_seen == 1; }));
  Deliver(511 + 10);
  host.Release();
  ASSERT_TRUE(WaitFor([] { return CountingHost::Instance().blocks() == 1 + 511; }));
  CountingHost::Instance().SetBlockObserver(nullptr, nullptr);
  // The gap lies before the first block the recording gets.
  module_.panel().OnClick(panel::kRecButton);
  Deliver(3);
  ASSERT_TRUE(WaitFor([] { return CountingHost::Instance().blocks() == 1 + 511 + 3; }));
  module_.ui.ClearEvents();
  module_.panel().OnClick(panel::kStopButton);
  EXPECT_TRUE(module_.ui.errors().empty());
  plugin().StopHW();
  const auto names = scratch_.Names();
  ASSERT_EQ(names.size(), 1u);
  EXPECT_EQ(testing::ReadBytes(scratch_ / names[0]).size(), 90u + 3 * kBlockBytes);
}

// The receiver unplugged while streaming and recording: silent, it also
// refuses its control record. The user is told once, the recording ends
// whole (103, the panel idle), a start finds it gone; plugged back, a start
// opens it afresh and sends it every setting, those changed meanwhile too.
TEST_F(TruthfulResultsTest, AReceiverThatWentIsToldOnceAndAStartBringsItBackWithItsSettings) {
  ASSERT_TRUE(Init());
  plugin().OpenHW();
  ASSERT_EQ(plugin().StartHW(7050000), 1024);
  module_.panel().OnClick(panel::kRecButton);
  Deliver(5);
  ASSERT_TRUE(WaitFor([] { return CountingHost::Instance().blocks() == 5; }));
  for (const char* entry : {"Open", "Sio", "SetAttenuator", "SetPreselector", "StartAsyncInput"}) {
    device().SetResult(entry, 0);
  }
  device().SetResult("Sio", -1);
  device().SetResult("FpgaConfig", -1);

  ASSERT_TRUE(WaitFor([&] { return !module_.ui.notices().empty(); }));
  EXPECT_EQ(module_.ui.notices(), (Strings{kReceiverLostMessage}));
  EXPECT_FALSE(module_.recorder().IsRecording());
  EXPECT_EQ(CountingHost::Instance().statuses(), (std::vector<int>{kStatusRecordingStarted, kStatusRecordingStopped}));
  EXPECT_TRUE(module_.ui.control(panel::kRecButton).enabled);
  EXPECT_EQ(testing::ReadBytes(scratch_ / scratch_.Names()[0]).size(), 90u + 5 * kBlockBytes);
  module_.panel().OnClick(panel::kAttenuator30dB);  // kept while it is gone
  plugin().StopHW();
  EXPECT_EQ(plugin().StartHW(7050000), -1);
  EXPECT_EQ(module_.ui.notices().size(), 1u);

  device().Reset();
  EXPECT_EQ(plugin().StartHW(7100000), 1024);
  EXPECT_EQ(device().entries(),
            (Strings{"Close", "Open", "FirmwareDownload", "FpgaConfig", "Sio", "SetAttenuator", "SetPreselector", "Sio",
                     "SetPreselector", "StartAsyncInput", "Sio"}));
  EXPECT_EQ(device().calls("SetAttenuator")[0].value, 3);
  EXPECT_EQ(device().records().back().nco_word, testing::ExpectedNcoWord(7100000, 80000000));
  Deliver(2);
  EXPECT_TRUE(WaitFor([] { return CountingHost::Instance().blocks() == 7; }));
  plugin().StopHW();
}

// Gone, but not yet seen to be: a rate chosen in those seconds finds the
// receiver refusing its bitstream and its record alike. The user hears of
// the loss alone, not of a missing bitstream file, streaming or not.
TEST_F(TruthfulResultsTest, ABitstreamRefusedByAReceiverThatWentSaysTheLossNotAMissingFile) {
  const auto unplug = [this] {
    device().SetResult("Sio", -1);
    device().SetResult("FpgaConfig", -1);
    device().SetResult("StartAsyncInput", 0);
  };
  ASSERT_TRUE(Init());
  plugin().OpenHW();
  unplug();
  module_.panel().OnClick(panel::RateButtonFor(2));
  EXPECT_EQ(plugin().StartHW(7050000), -1);
  ASSERT_TRUE(WaitFor([&] { return !module_.ui.notices().empty(); }));

  device().Reset();
  ASSERT_EQ(plugin().StartHW(7050000), 1024);
  unplug();
  module_.panel().OnClick(panel::RateButtonFor(3));
  ASSERT_TRUE(WaitFor([&] { return module_.ui.notices().size() == 2; }));
  EXPECT_EQ(module_.ui.notices(), (Strings{kReceiverLostMessage, kReceiverLostMessage}));
  EXPECT_EQ(module_.ui.errors(), Strings{});
  plugin().StopHW();
}

TEST_F(TruthfulResultsTest, ASilentReceiverIsToldOncePerSilence) {
  ASSERT_TRUE(Init());
  plugin().OpenHW();
  ASSERT_EQ(plugin().StartHW(7050000), 1024);
  // Nothing comes: one notice after a little more than 2 s, and no other.
  ASSERT_TRUE(WaitFor([&] { return !module_.ui.notices().empty(); }));
  EXPECT_EQ(module_.ui.notices(), (Strings{streaming::kReceiverSilentMessage}));
  std::this_thread::sleep_for(std::chrono::milliseconds(2500));
  EXPECT_EQ(module_.ui.notices().size(), 1u);
  // Samples flow again, then stop again: told a second time.
  Deliver(1);
  ASSERT_TRUE(WaitFor([&] { return module_.ui.notices().size() == 2; }));
  plugin().StopHW();
}

}  // namespace
}  // namespace halvorn

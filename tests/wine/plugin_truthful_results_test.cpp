// Through the real DLL on the simulated receiver: what StartHW, SetHWLO,
// GetHWLO and the panel say is what happened, with the simulator's faults
// injected where a real receiver would fail.
#include <thread>

#include "host/rate_meter.h"
#include "plugin/module.h"
#include "ports/host_link.h"
#include "ports/sample_block.h"
#include "receiver/tuning.h"
#include "streaming/sample_stream.h"
#include "receiver/bitstream_loader.h"
#include "tests/support/receiver_arithmetic.h"
#include "tests/wine/recording_support.h"

namespace halvorn::wine_tests {
namespace {

class TruthfulResultsTest : public RecordingTest {
 protected:
  bool Checked(int id) const { return SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  std::size_t Count(int status) const {
    const auto statuses = Statuses();
    return static_cast<std::size_t>(std::count(statuses.begin(), statuses.end(), status));
  }
  bool Shown(const std::string& text) const {
    for (const auto& box : boxes_.seen()) {
      if (box.text.find(text) != std::string::npos) return true;
    }
    return false;
  }
  // Pairs a second reaching the host over two seconds, from 300 ms on, as
  // the host program measures them.
  double MeasuredRateHz() {
    host::PumpMessagesFor(300);
    host::RateMeter meter;
    const DWORD started = GetTickCount();
    for (DWORD now = started; now - started < 2000; now = GetTickCount()) {
      meter.Add((now - started) / 1000.0, callback_.blocks() * kBlockPairs);
      host::PumpMessagesFor(5);
    }
    return meter.RateHz().value_or(0);
  }
  // The frequency the receiver is tuned to by the last control record, with
  // the clock the plug-in assumes, and whether its word is a positive one.
  void ExpectTunedWhereGetHwLoSays(std::int32_t clock_hz) {
    const auto sio = journal_.Calls("Sio");
    ASSERT_FALSE(sio.empty());
    const std::uint32_t word = static_cast<std::uint32_t>(std::stoul(sio.back()["nco"], nullptr, 16));
    EXPECT_LT(word, 0x80000000u) << "the receiver is tuned below zero";
    EXPECT_EQ(word, testing::ExpectedNcoWord(plugin_->GetHWLO(), clock_hz));
    EXPECT_NEAR(testing::TunedHz(word, clock_hz), plugin_->GetHWLO(), 1.0);
  }
};

TEST_F(TruthfulResultsTest, StartHwSaysMinusOneWheneverNoStreamRuns) {
  EXPECT_EQ(plugin_->StartHW(kTestLoHz), -1);  // before InitHW
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(0));

  for (const char* setting : {"HALVORNSIM_FAIL", "HALVORNSIM_MISSING"}) {
    SetSimulator(setting, "StartAsyncInput");
    if (std::string(setting) == "HALVORNSIM_MISSING") {
      // Entries go missing as the library loads.
      ASSERT_TRUE(plugin_->CloseHW());
      ASSERT_TRUE(Init());
      ASSERT_TRUE(plugin_->OpenHW());
    }
    EXPECT_EQ(plugin_->StartHW(kTestLoHz), -1) << setting;
    host::PumpMessagesFor(300);
    EXPECT_EQ(callback_.blocks(), 0u) << setting;
    SetSimulator(setting, "");
  }
  ASSERT_TRUE(plugin_->CloseHW());
  ASSERT_TRUE(Init());
  ASSERT_TRUE(plugin_->OpenHW());

  // A stop the receiver refused, then one it takes.
  ASSERT_EQ(plugin_->StartHW(kTestLoHz), kBlockPairs);
  SetSimulator("HALVORNSIM_FAIL", "StopAsyncInput");
  plugin_->StopHW();
  EXPECT_EQ(plugin_->StartHW(kTestLoHz), -1);
  SetSimulator("HALVORNSIM_FAIL", "");
  EXPECT_EQ(plugin_->StartHW(kTestLoHz), kBlockPairs);
  plugin_->StopHW();

  ASSERT_TRUE(plugin_->CloseHW());
  EXPECT_EQ(plugin_->StartHW(kTestLoHz), -1);
  EXPECT_TRUE(boxes_.seen().empty());
}

// The ends of the LO range are frequencies the receiver really tunes: the top
// is the last hertz below half the clock, the clock as calibrated too, and an
// LO beyond an end is tuned at it and told to the host.
TEST_F(TruthfulResultsTest, AnLoOutsideTheRangeIsTunedAtItsNearerEndAndTheRecordingSaysSo) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(0));
  EXPECT_EQ(plugin_->SetHWLO(40000000), 39999999);
  EXPECT_LT(plugin_->SetHWLO(-1), 0);
  for (const std::int32_t lo_hz : {0, 39999999}) {
    ASSERT_EQ(plugin_->SetHWLO(lo_hz), 0);
    ExpectTunedWhereGetHwLoSays(80000000);
  }
  // Hosts start at 144 MHz and at 100 MHz by default, or anywhere.
  for (const std::int32_t lo_hz : {144000000, 100000000, 2147483647}) {
    ASSERT_EQ(plugin_->StartHW(lo_hz), kBlockPairs);
    EXPECT_EQ(plugin_->GetHWLO(), 39999999);
    ExpectTunedWhereGetHwLoSays(80000000);
  }
  EXPECT_EQ(Count(kStatusLoChanged), 3u);

  const std::string name = ClickRec();
  host::PumpMessagesFor(300);
  ClickStop();
  plugin_->StopHW();
  const auto recording = ReadRecording(name);
  ASSERT_TRUE(recording) << name;
  EXPECT_EQ(recording->lo_hz(), 39999999);

  // A slower clock after a calibration brings the top down with it, and the
  // LO that was there.
  ASSERT_EQ(plugin_->SetHWLO(7050000), 0);
  plugin_->TuneChanged(7050300);
  ClickAsUser(panel::kClockCalibrate);
  const auto clock = testing::ExpectedCalibratedClock(7050300, 80000000);
  ASSERT_TRUE(clock);
  const std::int32_t top = testing::ExpectedHighestLo(*clock);
  ASSERT_LT(top, 39999999);
  EXPECT_EQ(plugin_->SetHWLO(39999999), top);
  ASSERT_EQ(plugin_->StartHW(144000000), kBlockPairs);
  EXPECT_EQ(plugin_->GetHWLO(), top);
  ExpectTunedWhereGetHwLoSays(*clock);
  plugin_->StopHW();
}

// After every kind of rate change the blocks come at the rate GetHWSR says,
// whole and each of one stream: a click, the host's ExtIoSetSrate, two
// clicks in a row, and a bitstream the receiver refused.
TEST_F(TruthfulResultsTest, AfterEveryKindOfRateChangeTheBlocksComeAtTheRateGetHwSrSays) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(0));
  ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
  const auto expect_told_rate = [&](const char* after, std::int32_t rate_hz) {
    EXPECT_EQ(plugin_->GetHWSR(), rate_hz) << after;
    EXPECT_NEAR(MeasuredRateHz(), rate_hz, rate_hz * 0.01) << after;
  };
  expect_told_rate("the start", 125000);
  ClickAsUser(kFirstRateButton + 1);
  expect_told_rate("a click", 250000);
  EXPECT_EQ(Count(kStatusSampleRateChanged), 1u);
  EXPECT_EQ(plugin_->ExtIoSetSrate(3), 0);
  expect_told_rate("ExtIoSetSrate", 1000000);
  ClickAsUser(kFirstRateButton + 8);
  ClickAsUser(kFirstRateButton + 6);
  expect_told_rate("two clicks in a row", 48077);
  EXPECT_EQ(Count(kStatusSampleRateChanged), 3u);
  SetSimulator("HALVORNSIM_FAIL", "FpgaConfig");
  ClickAsUser(kFirstRateButton + 2);
  SetSimulator("HALVORNSIM_FAIL", "");
  ASSERT_TRUE(boxes_.WaitFor(1, 5000));
  EXPECT_EQ(boxes_.seen()[0].text, receiver::kBitstreamMissingMessage);
  EXPECT_TRUE(Checked(kFirstRateButton + 6));
  expect_told_rate("a refused bitstream", 48077);
  EXPECT_EQ(Count(kStatusSampleRateChanged), 3u);
  plugin_->StopHW();
  EXPECT_EQ(callback_.torn_blocks(), 0u);
  EXPECT_EQ(callback_.faults(), std::vector<std::string>{});
}

TEST_F(TruthfulResultsTest, ATuneTheReceiverRefusedLeavesGetHwLoWhereTheReceiverIs) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(0));
  ASSERT_EQ(plugin_->SetHWLO(7050000), 0);
  SetSimulator("HALVORNSIM_FAIL", "Sio");
  EXPECT_EQ(plugin_->SetHWLO(10000000), 0);
  EXPECT_EQ(plugin_->GetHWLO(), 7050000);
  EXPECT_EQ(Count(kStatusLoChanged), 1u);
  SetSimulator("HALVORNSIM_FAIL", "");
  EXPECT_EQ(plugin_->SetHWLO(10000000), 0);
  EXPECT_EQ(plugin_->GetHWLO(), 10000000);
}

TEST_F(TruthfulResultsTest, TheDeviceLibraryBesideThePlugInIsFoundFromAnotherFolder) {
  plugin_.reset();
  // Neither the standard search nor the current directory has the library;
  // only the plug-in's own folder does.
  UseSimulator(false);
  std::string error;
  plugin_ = host::ExtIoPlugin::Load(BuildDirectory() + "ExtIO_halvorn.dll", &error);
  ASSERT_TRUE(plugin_) << error;
  EXPECT_TRUE(Init());
  EXPECT_FALSE(journal_.Calls("Open").empty());
  EXPECT_TRUE(boxes_.seen().empty());
}

TEST_F(TruthfulResultsTest, CloseThenOpenThenStartStreams) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(0));
  ASSERT_TRUE(plugin_->CloseHW());
  ASSERT_TRUE(plugin_->OpenHW());
  ASSERT_EQ(plugin_->StartHW(kTestLoHz), kBlockPairs);
  EXPECT_TRUE(PumpUntil([&] { return callback_.blocks() > 10; }, 10000));
  plugin_->StopHW();
  EXPECT_TRUE(boxes_.seen().empty());
}

TEST_F(TruthfulResultsTest, ARecordingStartedAfterARateChangeCarriesTheNewRateAndSettingsStayFixed) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(0));
  ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
  // The user picks 2 MS/s; the host neither restarts nor retunes.
  ClickAsUser(kFirstRateButton + kTwoMegaRow);
  EXPECT_EQ(plugin_->GetHWSR(), 2000000);
  const std::string name = ClickRec();
  const auto loads = journal_.Calls("FpgaConfig");
  ASSERT_FALSE(loads.empty());
  EXPECT_EQ(loads.back()["name"], "halvorn2m24v21");

  // A host sending clicks for the disabled settings changes nothing, not even
  // the marks it set on the way.
  const std::size_t journal_before = JournalLength();
  for (int id : {int{panel::kAttenuator30dB}, kFirstRateButton, int{panel::kAdcPreamp}, int{panel::kClockCalibrate}}) {
    if (id != panel::kClockCalibrate) SendMessageA(Control(id), BM_SETCHECK, Checked(id) ? BST_UNCHECKED : BST_CHECKED, 0);
    SendMessageA(Dialog(), WM_COMMAND, MAKEWPARAM(id, BN_CLICKED), reinterpret_cast<LPARAM>(Control(id)));
  }
  host::PumpMessagesFor(200);
  EXPECT_EQ(JournalLength(), journal_before);
  EXPECT_EQ(plugin_->GetHWSR(), 2000000);
  EXPECT_TRUE(Checked(kFirstRateButton + kTwoMegaRow));
  EXPECT_FALSE(Checked(kFirstRateButton));
  EXPECT_TRUE(Checked(panel::kAttenuator0dB));
  EXPECT_FALSE(Checked(panel::kAttenuator30dB));
  EXPECT_FALSE(Checked(panel::kAdcPreamp));

  ClickStop();
  plugin_->StopHW();
  const auto recording = ReadRecording(name);
  ASSERT_TRUE(recording) << name;
  EXPECT_EQ(recording->sample_rate(), 2000000u);
  EXPECT_EQ(recording->bits_per_sample(), 16);
  EXPECT_EQ(recording->row(), kTwoMegaRow);
}

TEST_F(TruthfulResultsTest, ACalibrationFarBeyondAnyCrystalIsRefusedWithAMessage) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(0));
  ASSERT_EQ(plugin_->SetHWLO(7050000), 0);
  plugin_->TuneChanged(1499);
  const std::size_t journal_before = JournalLength();
  ClickAsUser(panel::kClockCalibrate);
  ASSERT_TRUE(boxes_.WaitFor(1, 5000));
  EXPECT_EQ(boxes_.seen()[0].text, receiver::kCalibrationRefusedMessage);
  EXPECT_EQ(JournalLength(), journal_before);
}

TEST_F(TruthfulResultsTest, EachRadioGroupMarksExactlyTheReceiversSetting) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(0));
  ClickAsUser(panel::kAttenuator30dB);
  ASSERT_TRUE(plugin_->OpenHW());
  for (int id = panel::kAttenuator0dB; id <= panel::kAttenuator30dB; ++id) {
    EXPECT_EQ(Checked(id), id == panel::kAttenuator0dB) << id;
  }
  const auto attenuator = journal_.Calls("SetAttenuator");
  ASSERT_FALSE(attenuator.empty());
  EXPECT_EQ(attenuator.back()["step"], "0");
}

// Holds the host's callback for a while once, as a host busy elsewhere would.
void HoldOnce(const std::uint8_t*, void* held) {
  if (static_cast<std::atomic<bool>*>(held)->exchange(true)) return;
  std::this_thread::sleep_for(std::chrono::seconds(3));
}

TEST_F(TruthfulResultsTest, ARecordingThatLostSamplesSaysHowMuchWhenItStops) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(1));  // 250 kS/s: the ring holds 2.1 s
  ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
  const std::string name = ClickRec();
  ASSERT_TRUE(PumpUntil([&] { return callback_.blocks() > 20; }, 10000));
  std::atomic<bool> held{false};
  callback_.SetBlockObserver(&HoldOnce, &held);
  ASSERT_TRUE(PumpUntil([&] { return held.load(); }, 10000));
  const std::uint64_t before = callback_.blocks();
  ASSERT_TRUE(PumpUntil([&] { return callback_.blocks() > before + 600; }, 20000));
  ClickStop();
  plugin_->StopHW();
  ASSERT_TRUE(boxes_.WaitFor(1, 5000));
  EXPECT_TRUE(Shown("Recording incomplete: ")) << boxes_.seen()[0].text;
  EXPECT_TRUE(Shown("were lost while the host or the disk could not keep up")) << boxes_.seen()[0].text;
}

TEST_F(TruthfulResultsTest, AReceiverThatDeliversNothingIsReportedOnce) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(0));
  SetSimulator("HALVORNSIM_STALL", "300,4500");
  ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
  // The notice is shown by the panel's thread: this one, pumping.
  ASSERT_TRUE(PumpUntil([&] { return !boxes_.seen().empty(); }, 10000));
  EXPECT_EQ(boxes_.seen()[0].text, streaming::kReceiverSilentMessage);
  const std::uint64_t before = callback_.blocks();
  ASSERT_TRUE(PumpUntil([&] { return callback_.blocks() > before + 20; }, 15000)) << "samples never came again";
  host::PumpMessagesFor(500);
  EXPECT_EQ(boxes_.seen().size(), 1u);
  plugin_->StopHW();
}

// Unplugged while streaming and recording: the user is told once, the file is
// whole up to the last block the host received, StartHW says -1 while the
// receiver is gone, and every entry point and the unload stay prompt.
class UnpluggedWhileRecordingTest : public TruthfulResultsTest, public ::testing::WithParamInterface<int> {};

TEST_P(UnpluggedWhileRecordingTest, TheUserIsToldOnceAndTheRecordingIsWhole) {
  const int row = GetParam();
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(row));
  SetSimulator("HALVORNSIM_UNPLUG", "1");
  ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
  const std::string name = ClickRec();
  ASSERT_TRUE(PumpUntil([&] { return !boxes_.seen().empty(); }, 15000)) << "the user was never told";
  EXPECT_EQ(boxes_.seen()[0].text, kReceiverLostMessage);
  ASSERT_TRUE(PumpUntil([&] { return Count(kStatusRecordingStopped) == 1; }, 5000));
  EXPECT_TRUE(IsWindowEnabled(Control(kRecButton))) << "the panel is not idle";

  // No call may hang on a receiver that is gone; a limit far above any wait
  // of the plug-in's own tells a hang from a slow machine.
  const DWORD limit_ms = 5000;
  const DWORD calls_began = GetTickCount();
  EXPECT_EQ(plugin_->StartHW(kTestLoHz), -1);
  plugin_->StopHW();
  EXPECT_EQ(plugin_->GetHWSR(), receiver::kSampleRateTable[row].rate_hz);
  EXPECT_LT(GetTickCount() - calls_began, limit_ms);
  host::PumpMessagesFor(500);
  EXPECT_EQ(boxes_.seen().size(), 1u) << "told more than once";

  const auto recording = ReadRecording(name);
  ASSERT_TRUE(recording) << name;
  EXPECT_TRUE(HasFormat(*recording, row, static_cast<std::uint32_t>(receiver::kSampleRateTable[row].rate_hz)));
  std::uint64_t first_pair = 0;
  EXPECT_TRUE(HoldsCountingRun(*recording, row, &first_pair));
  const std::uint64_t recorded_pairs = recording->data_bytes() / StoredBlockBytes(row) * kBlockPairs;
  EXPECT_EQ(first_pair + recorded_pairs, callback_.next_pair()) << "the file ends before the host's last block";

  const DWORD unload_began = GetTickCount();
  EXPECT_TRUE(plugin_->CloseHW());
  plugin_.reset();
  EXPECT_LT(GetTickCount() - unload_began, limit_ms);
  EXPECT_TRUE(PluginGone());
}

INSTANTIATE_TEST_SUITE_P(Rates, UnpluggedWhileRecordingTest, ::testing::Values(1, kTwoMegaRow),
                         [](const auto& info) { return info.param == 1 ? "At250k" : "At2M"; });

// Plugged back in, the receiver streams again without a reload, whichever
// way the host comes back to it: a new start, an OpenHW while it was still
// gone, or CloseHW and OpenHW. It comes back with the rate GetHWSR says, the
// LO GetHWLO says and the attenuator chosen while it was gone; the recording
// after it is a new file.
enum class WayBack { kStopThenStart, kOpenWhileGoneThenStart, kCloseThenOpen };

class UnpluggedThenPluggedBackTest : public TruthfulResultsTest, public ::testing::WithParamInterface<WayBack> {
 protected:
  // The host tries again, as a user pressing Start does, until the receiver
  // answers or `limit_ms` has gone.
  bool StartsWithin(DWORD limit_ms) {
    return PumpUntil(
        [&] {
          if (plugin_->StartHW(kTestLoHz) == kBlockPairs) return true;
          plugin_->StopHW();
          return false;
        },
        limit_ms);
  }
};

TEST_P(UnpluggedThenPluggedBackTest, ANewStartStreamsAtTheToldRateAndLo) {
  ASSERT_NO_FATAL_FAILURE(OpenAtRow(1));
  SetSimulator("HALVORNSIM_UNPLUG", "1:4");
  ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
  const std::string first = ClickRec();
  ASSERT_TRUE(PumpUntil([&] { return !boxes_.seen().empty(); }, 15000)) << "the user was never told";
  ClickAsUser(panel::kAttenuator0dB + 2);  // 20 dB, kept while it is gone
  plugin_->StopHW();
  EXPECT_EQ(plugin_->StartHW(kTestLoHz), -1) << "started while the receiver was gone";
  plugin_->StopHW();

  switch (GetParam()) {
    case WayBack::kStopThenStart:
      break;
    case WayBack::kOpenWhileGoneThenStart:
      EXPECT_FALSE(plugin_->OpenHW());
      break;
    case WayBack::kCloseThenOpen:
      EXPECT_TRUE(plugin_->CloseHW());
      // The library is loaded afresh by OpenHW: its next load would unplug
      // again.
      SetSimulator("HALVORNSIM_UNPLUG", "");
      ASSERT_TRUE(PumpUntil([&] { return plugin_->OpenHW(); }, 15000)) << "OpenHW never found it back";
      break;
  }
  callback_.Reset();
  ASSERT_TRUE(StartsWithin(15000)) << "the stream never came back";
  EXPECT_EQ(plugin_->GetHWSR(), 250000);
  EXPECT_NEAR(MeasuredRateHz(), 250000, 2500);
  ExpectTunedWhereGetHwLoSays(80000000);
  EXPECT_EQ(plugin_->GetHWLO(), kTestLoHz);
  // OpenHW sets the front end afresh, as it always does.
  EXPECT_EQ(journal_.Calls("SetAttenuator").back()["step"], GetParam() == WayBack::kCloseThenOpen ? "0" : "2");
  EXPECT_EQ(journal_.Calls("FpgaConfig").back()["name"], "halvorn250k24v21");

  const std::string second = ClickRec();
  EXPECT_NE(second, first);
  ASSERT_TRUE(PumpUntil([&] { return callback_.blocks() > 100; }, 10000));
  ClickStop();
  plugin_->StopHW();
  const auto recording = ReadRecording(second);
  ASSERT_TRUE(recording) << second;
  EXPECT_TRUE(HasFormat(*recording, 1, 250000));
  EXPECT_TRUE(HoldsCountingRun(*recording, 1));
  EXPECT_EQ(callback_.torn_blocks(), 0u);
  EXPECT_EQ(boxes_.seen().size(), 1u);
}

INSTANTIATE_TEST_SUITE_P(Ways, UnpluggedThenPluggedBackTest,
                         ::testing::Values(WayBack::kStopThenStart, WayBack::kOpenWhileGoneThenStart,
                                           WayBack::kCloseThenOpen),
                         [](const auto& info) {
                           switch (info.param) {
                             case WayBack::kStopThenStart: return "StopThenStart";
                             case WayBack::kOpenWhileGoneThenStart: return "OpenWhileGoneThenStart";
                             case WayBack::kCloseThenOpen: return "CloseThenOpen";
                           }
                           return "";
                         });

}  // namespace
}  // namespace halvorn::wine_tests

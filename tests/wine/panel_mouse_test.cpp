// Real clicks with the X pointer on the panel's controls reach the device
// library, the host and the recorder as the user means them.
#include <windows.h>

#include <algorithm>
#include <string>
#include <vector>

#include "receiver/sample_rate_table.h"
#include "tests/wine/panel_fixture.h"

namespace halvorn::wine_tests {
namespace {

class PanelMouseTest : public PanelTest {
 protected:
  // Waits for the first `entry` call after journal line `after`.
  testing::JournalLine NextCall(size_t after, const std::string& entry) {
    std::vector<testing::JournalLine> calls;
    PumpUntil(
        [&] {
          calls = CallsSince(after, entry);
          return !calls.empty();
        },
        5000);
    EXPECT_FALSE(calls.empty()) << "no " << entry << " call";
    return calls.empty() ? testing::JournalLine{} : calls.front();
  }

  int CountStatus(int status) const {
    const auto statuses = Statuses();
    return static_cast<int>(std::count(statuses.begin(), statuses.end(), status));
  }

  static int Number(const std::string& text) { return std::atoi(text.c_str()); }
};

TEST_F(PanelMouseTest, EachAttenuatorButtonSetsItsStepAndOnlyItIsMarked) {
  OpenReceiver();
  const std::pair<int, int> clicks[] = {{panel::kAttenuator0dB + 1, 1},
                                        {panel::kAttenuator0dB + 2, 2},
                                        {panel::kAttenuator30dB, 3},
                                        {panel::kAttenuator0dB, 0}};
  for (const auto& [id, step] : clicks) {
    SCOPED_TRACE(id);
    const size_t before = JournalLength();
    ClickWithMouse(id);
    EXPECT_EQ(NextCall(before, "SetAttenuator").Number("step"), step);
    for (int other = panel::kAttenuator0dB; other <= panel::kAttenuator30dB; ++other)
      EXPECT_EQ(Checked(other), other == id) << other;
  }
  // The marked button sends its step again.
  const size_t before = JournalLength();
  ClickWithMouse(panel::kAttenuator0dB);
  EXPECT_EQ(NextCall(before, "SetAttenuator").Number("step"), 0);
}

TEST_F(PanelMouseTest, PreampAndDitherCheckBoxesSwitchTheirBitsOfTheControlRecord) {
  OpenReceiver();
  size_t before = JournalLength();
  ClickWithMouse(panel::kAdcPreamp);
  testing::JournalLine record = NextCall(before, "Sio");
  EXPECT_EQ(record.Number("preamp"), 1);
  EXPECT_EQ(record.Number("dither"), 1);
  EXPECT_TRUE(Checked(panel::kAdcPreamp));

  before = JournalLength();
  ClickWithMouse(panel::kAdcDither);
  record = NextCall(before, "Sio");
  EXPECT_EQ(record.Number("dither"), 0);
  EXPECT_EQ(record.Number("preamp"), 1);
  EXPECT_FALSE(Checked(panel::kAdcDither));

  before = JournalLength();
  ClickWithMouse(panel::kAdcPreamp);
  EXPECT_EQ(NextCall(before, "Sio").Number("preamp"), 0);
  before = JournalLength();
  ClickWithMouse(panel::kAdcDither);
  EXPECT_EQ(NextCall(before, "Sio").Number("dither"), 1);
}

TEST_F(PanelMouseTest, PreselectorCheckBoxSwitchesBetweenTheBandAndWideband) {
  OpenReceiver();
  ASSERT_EQ(plugin_->SetHWLO(7050000), 0);
  size_t before = JournalLength();
  ClickWithMouse(panel::kPreselector);
  EXPECT_EQ(NextCall(before, "SetPreselector").Number("setting"), 10);
  EXPECT_FALSE(Checked(panel::kPreselector));
  before = JournalLength();
  ClickWithMouse(panel::kPreselector);
  EXPECT_EQ(NextCall(before, "SetPreselector").Number("setting"), 5);  // 6 to 8.4 MHz
  EXPECT_TRUE(Checked(panel::kPreselector));
}

TEST_F(PanelMouseTest, ARateButtonChangesTheRateAtOnceAndTheBitstreamAtTheNextTune) {
  OpenReceiver();
  const size_t before = JournalLength();
  ClickWithMouse(panel::RateButtonFor(3));
  ASSERT_TRUE(PumpUntil([&] { return CountStatus(100) == 1; }, 5000)) << "no status 100";
  EXPECT_EQ(plugin_->GetHWSR(), 1000000);
  EXPECT_TRUE(CallsSince(before, "FpgaConfig").empty()) << "loaded before the next tune";
  EXPECT_TRUE(Checked(panel::RateButtonFor(3)));
  EXPECT_FALSE(Checked(panel::kFirstRateButton));

  ASSERT_EQ(plugin_->SetHWLO(7050000), 0);
  const std::vector<testing::JournalLine> loads = CallsSince(before, "FpgaConfig");
  ASSERT_EQ(loads.size(), 1u);
  EXPECT_EQ(loads[0]["name"], "halvorn1m24v21");

  // The button of the rate in use changes nothing.
  const size_t after_tune = JournalLength();
  ClickWithMouse(panel::RateButtonFor(3));
  host::PumpMessagesFor(200);
  EXPECT_EQ(CountStatus(100), 1);
  ASSERT_EQ(plugin_->SetHWLO(7050000), 0);
  EXPECT_TRUE(CallsSince(after_tune, "FpgaConfig").empty());
}

TEST_F(PanelMouseTest, EveryRateButtonSelectsItsRow) {
  OpenReceiver();
  // Start from the last so that every click, the first included, is a change.
  for (int row = receiver::kSampleRateCount - 1; row >= 0; --row) {
    ClickWithMouse(panel::RateButtonFor(row));
    const std::int32_t rate_hz = receiver::kSampleRateTable[static_cast<std::size_t>(row)].rate_hz;
    ASSERT_TRUE(PumpUntil([&] { return plugin_->GetHWSR() == rate_hz; }, 5000)) << row;
  }
  EXPECT_EQ(CountStatus(100), 9);
}

TEST_F(PanelMouseTest, ClockCalibrationRetunesAndLoadsAPendingBitstreamFirst) {
  OpenReceiver();
  ASSERT_EQ(plugin_->SetHWLO(7050000), 0);
  const long long nco_before = CallsSince(0, "Sio").back().Number("nco");
  plugin_->TuneChanged(7050123);
  ClickWithMouse(panel::RateButtonFor(1));
  ASSERT_TRUE(PumpUntil([&] { return plugin_->GetHWSR() == 250000; }, 5000));

  const size_t before = JournalLength();
  ClickWithMouse(panel::kClockCalibrate);
  const testing::JournalLine record = NextCall(before, "Sio");
  EXPECT_NE(record.Number("nco"), nco_before) << "the LO was not retuned on the corrected clock";
  // The load comes before the retune.
  const auto lines = journal_.Lines();
  size_t load = lines.size(), retune = lines.size();
  for (size_t i = before; i < lines.size(); ++i) {
    if (lines[i].entry == "FpgaConfig" && load == lines.size()) load = i;
    if (lines[i].entry == "Sio" && retune == lines.size()) retune = i;
  }
  ASSERT_LT(load, lines.size()) << "no bitstream load";
  EXPECT_EQ(lines[load]["name"], "halvorn250k24v21");
  EXPECT_LT(load, retune);
}

TEST_F(PanelMouseTest, RecAndStopSwitchExactlyTheRecordingArrangementAndTellTheHost) {
  const std::string recordings = RecordIntoTemporaryDirectory();
  OpenReceiver();
  ASSERT_EQ(plugin_->StartHW(7050000), 1024);
  ClickWithMouse(panel::kRecButton);
  ASSERT_TRUE(PumpUntil([&] { return !Enabled(panel::kRecButton); }, 5000));
  std::vector<int> disabled;
  for (const ExpectedControl& control : kExpectedControls) {
    if (control.id != -1 && !Enabled(control.id)) disabled.push_back(control.id);
  }
  std::vector<int> settings = SettingControls();
  std::sort(settings.begin(), settings.end());
  std::sort(disabled.begin(), disabled.end());
  EXPECT_EQ(disabled, settings);
  EXPECT_EQ(disabled.size(), 18u);
  EXPECT_TRUE(Enabled(panel::kStopButton));
  for (HWND child = GetWindow(Dialog(), GW_CHILD); child != nullptr; child = GetWindow(child, GW_HWNDNEXT)) {
    if (static_cast<SHORT>(GetDlgCtrlID(child)) == -1) {
      EXPECT_TRUE(IsWindowEnabled(child));
    }
  }
  EXPECT_EQ(CountStatus(102), 1);
  const std::string file_name = Text(panel::kFileNameField);
  EXPECT_NE(file_name, " ");
  EXPECT_EQ(Text(panel::kFileSizeField), "0");

  // The status timer shows the file growing and the time passing.
  EXPECT_TRUE(PumpUntil(
      [&] { return Number(Text(panel::kFileSizeField)) >= 1 && Number(Text(panel::kRecordingTimeField)) >= 2; }, 15000))
      << "size " << Text(panel::kFileSizeField) << ", time " << Text(panel::kRecordingTimeField);

  ClickWithMouse(panel::kStopButton);
  ASSERT_TRUE(PumpUntil([&] { return Enabled(panel::kRecButton); }, 5000));
  for (const ExpectedControl& control : kExpectedControls) {
    if (control.id != -1) {
      EXPECT_EQ(Enabled(control.id), control.id != panel::kStopButton) << control.id;
    }
  }
  EXPECT_EQ(CountStatus(103), 1);
  // The timer has stopped: the fields keep what they last showed.
  const std::string size = Text(panel::kFileSizeField), time = Text(panel::kRecordingTimeField);
  host::PumpMessagesFor(1500);
  EXPECT_EQ(Text(panel::kFileSizeField), size);
  EXPECT_EQ(Text(panel::kRecordingTimeField), time);
  EXPECT_EQ(Text(panel::kFileNameField), file_name);
  plugin_->StopHW();

  const RecordingSizes sizes = ReadRecordingSizes(recordings + file_name);
  EXPECT_GE(sizes.data_size, 1u << 20);
  EXPECT_EQ(sizes.riff_size, sizes.file_bytes - 8);
  EXPECT_EQ(sizes.data_size, sizes.file_bytes - 90);
}

}  // namespace
}  // namespace halvorn::wine_tests

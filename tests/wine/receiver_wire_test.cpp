// What the receiver hears from the plug-in, read from the simulated
// receiver's journal: the control record on the wire, the preselector band,
// the calibrated clock's tuning word and the deferred bitstream load.
#include <cmath>

#include "tests/support/receiver_arithmetic.h"
#include "tests/wine/panel_fixture.h"

namespace halvorn::wine_tests {
namespace {

std::string Hex(std::uint32_t word) {
  char text[16];
  std::snprintf(text, sizeof text, "0x%08X", static_cast<unsigned>(word));
  return text;
}

class ReceiverWireTest : public PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    OpenReceiver();
  }
  void Click(int id) {
    ASSERT_TRUE(Enabled(id)) << id;
    SendMessageA(Control(id), BM_CLICK, 0, 0);
  }
  testing::JournalLine LastSio() const { return journal_.Calls("Sio").back(); }
};

TEST_F(ReceiverWireTest, OpenSendsTheOpenTimeRecordAndLoadsTheCurrentRate) {
  const auto lines = journal_.Lines();
  std::vector<std::string> entries;
  for (const auto& line : lines) entries.push_back(line.entry);
  EXPECT_EQ(entries, (std::vector<std::string>{"Open", "FirmwareDownload", "SetAttenuator", "SetPreselector",
                                                "Sio", "FpgaConfig"}));
  EXPECT_EQ(journal_.Calls("SetAttenuator")[0]["step"], "0");
  EXPECT_EQ(journal_.Calls("SetPreselector")[0]["setting"], "10");
  EXPECT_EQ(LastSio()["record"], "0200000000");
  EXPECT_EQ(journal_.Calls("FpgaConfig")[0]["name"], "halvorn125k24v21");
  EXPECT_EQ(plugin_->GetHWSR(), 125000);
}

TEST_F(ReceiverWireTest, TuningWordsOnTheWire) {
  const std::pair<int, std::string> examples[] = {
      {7050000, "02285C8F16"}, {10000000, "0200000020"}, {39999999, "02CAFFFF7F"}, {0, "0200000000"}};
  for (const auto& [lo_hz, record] : examples) {
    EXPECT_EQ(plugin_->SetHWLO(lo_hz), 0);
    EXPECT_EQ(LastSio()["record"], record) << lo_hz;
  }
  // StartHW tunes an LO below the range at its lowest end.
  plugin_->StartHW(-1000);
  plugin_->StopHW();
  const auto sent = journal_.Calls("Sio");
  EXPECT_EQ(sent[sent.size() - 3]["nco"], "0x00000000");
  EXPECT_EQ(plugin_->GetHWLO(), 0);
}

TEST_F(ReceiverWireTest, OutOfRangeLosAreRefusedWithNothingSent) {
  ASSERT_EQ(plugin_->SetHWLO(7050000), 0);
  const size_t lines = JournalLength();
  // Above: the highest LO, the last hertz below half the clock; below: a
  // negative number.
  EXPECT_EQ(plugin_->SetHWLO(40000000), 39999999);
  EXPECT_EQ(plugin_->SetHWLO(-1), -1);
  EXPECT_EQ(plugin_->SetHWLO(2147483647), 39999999);
  EXPECT_EQ(plugin_->SetHWLO(-2147483647 - 1), -1);
  EXPECT_EQ(JournalLength(), lines);
  EXPECT_EQ(plugin_->GetHWLO(), 7050000);
}

TEST_F(ReceiverWireTest, ThePreselectorFollowsTheBandPlanOncePerTune) {
  const std::pair<int, int> limits[] = {
      {0, 0},         {1699999, 0},   {1700000, 1},   {2099999, 1},   {2100000, 2},   {2999999, 2},
      {3000000, 3},   {4199999, 3},   {4200000, 4},   {5999999, 4},   {6000000, 5},   {8399999, 5},
      {8400000, 6},   {11999999, 6},  {12000000, 7},  {16999999, 7},  {17000000, 8},  {23999999, 8},
      {24000000, 9},  {31999999, 9},  {32000000, 10}, {39999999, 10}};
  for (const auto& [lo_hz, setting] : limits) {
    const size_t before = JournalLength();
    ASSERT_EQ(plugin_->SetHWLO(lo_hz), 0);
    const auto calls = CallsSince(before, "SetPreselector");
    ASSERT_EQ(calls.size(), 1u) << lo_hz;
    EXPECT_EQ(calls[0]["setting"], std::to_string(setting)) << lo_hz;
  }
  // With the preselector off a tune leaves it alone.
  Click(panel::kPreselector);
  EXPECT_EQ(journal_.Calls("SetPreselector").back()["setting"], "10");
  const size_t before = JournalLength();
  plugin_->SetHWLO(7050000);
  EXPECT_TRUE(CallsSince(before, "SetPreselector").empty());
}

TEST_F(ReceiverWireTest, SwitchesShareTheFlagsByteWithTheStreamingBit) {
  SetSimulator("HALVORNSIM_SOURCE", "counting");
  Click(panel::kAdcPreamp);  // preamp on
  EXPECT_EQ(LastSio()["record"], "0600000000");
  plugin_->StartHW(7050000);
  EXPECT_EQ(LastSio()["flags"], "0x07");
  Click(panel::kAdcDither);  // dither off
  EXPECT_EQ(LastSio()["flags"], "0x05");
  plugin_->StopHW();
  EXPECT_EQ(LastSio()["flags"], "0x04");
  EXPECT_EQ(LastSio()["nco"], "0x168F5C28");
}

TEST_F(ReceiverWireTest, ClockCalibrationsRetuneWithTheCorrectedClock) {
  const std::pair<int, int> examples[] = {
      {10000100, 79999200}, {9999900, 80000800}, {7000500, 80005713}, {15000000, 80000000}};
  for (const auto& [tuned_hz, clock_hz] : examples) {
    // A fresh module starts from the nominal clock.
    ASSERT_TRUE(plugin_->Unload());
    std::string error;
    plugin_ = host::ExtIoPlugin::Load(PluginPath(), &error);
    ASSERT_TRUE(plugin_) << error;
    OpenReceiver();
    ASSERT_EQ(plugin_->SetHWLO(10000000), 0);
    plugin_->TuneChanged(tuned_hz);
    const size_t before = JournalLength();
    Click(panel::kClockCalibrate);
    const auto sent = CallsSince(before, "Sio");
    ASSERT_EQ(sent.size(), 1u) << tuned_hz;
    EXPECT_EQ(sent[0]["nco"], Hex(testing::ExpectedNcoWord(10000000, clock_hz))) << tuned_hz;
  }
}

TEST_F(ReceiverWireTest, ACalibrationWithoutASoundTunedFrequencySendsNothing) {
  ASSERT_EQ(plugin_->SetHWLO(7050000), 0);
  for (int tuned_hz : {0, 499, -500}) {
    plugin_->TuneChanged(tuned_hz);
    const size_t before = JournalLength();
    Click(panel::kClockCalibrate);
    EXPECT_EQ(JournalLength(), before) << tuned_hz;
  }
  // The clock is still the nominal one.
  plugin_->SetHWLO(7050000);
  EXPECT_EQ(LastSio()["nco"], "0x168F5C28");
}

TEST_F(ReceiverWireTest, TwoRateChangesBeforeATuneGiveTwoNoticesAndOneLoad) {
  const size_t before = JournalLength();
  Click(panel::RateButtonFor(6));  // 48 kS/s
  Click(panel::kLastRateButton);   // 192 kS/s
  EXPECT_EQ(plugin_->GetHWSR(), 192308);
  EXPECT_EQ(Statuses(), (std::vector<int>{100, 100}));
  EXPECT_TRUE(CallsSince(before, "FpgaConfig").empty());
  plugin_->SetHWLO(7050000);
  const auto loads = CallsSince(before, "FpgaConfig");
  ASSERT_EQ(loads.size(), 1u);
  EXPECT_EQ(loads[0]["name"], "halvorn192k24v31");
  // The load came before the record.
  const auto lines = journal_.Lines();
  EXPECT_EQ(lines[lines.size() - 3].entry, "FpgaConfig");
  EXPECT_EQ(lines[lines.size() - 2].entry, "Sio");
  // Choosing the row in use does nothing.
  const size_t after = JournalLength();
  Click(panel::kLastRateButton);
  plugin_->SetHWLO(7050000);
  EXPECT_TRUE(CallsSince(after, "FpgaConfig").empty());
  EXPECT_EQ(Statuses().size(), 2u);
}

TEST_F(ReceiverWireTest, AFailingBitstreamLoadIsReportedOncePerAttemptAndNotRetried) {
  SetSimulator("HALVORNSIM_FAIL", "FpgaConfig");
  EXPECT_TRUE(plugin_->OpenHW());
  ASSERT_TRUE(boxes_.WaitFor(1, 5000));
  EXPECT_EQ(plugin_->SetHWLO(7050000), 0);
  Click(panel::RateButtonFor(4));
  EXPECT_EQ(plugin_->StartHW(7050000), 1024);
  plugin_->StopHW();
  ASSERT_TRUE(boxes_.WaitFor(2, 5000));
  EXPECT_EQ(plugin_->SetHWLO(7050000), 0);
  host::PumpMessagesFor(200);
  const auto seen = boxes_.seen();
  ASSERT_EQ(seen.size(), 2u);
  for (const auto& box : seen) {
    EXPECT_EQ(box.title, "Halvorn DLL for Winrad");
    EXPECT_EQ(box.text, "FPGA configuration file not found\nPlease check installation and retry");
  }
  // OpenHW's attempt, then one at the StartHW after the rate change: none since.
  EXPECT_EQ(journal_.Calls("FpgaConfig").size(), 3u);
  // The receiver still runs the first row's bitstream, so that row is in force again.
  EXPECT_EQ(plugin_->GetHWSR(), 125000);
}

}  // namespace
}  // namespace halvorn::wine_tests

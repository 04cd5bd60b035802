// The extended entry points through the real DLL on the simulated receiver,
// driven as a host that builds its own menus does: it announces itself,
// enumerates the rates and attenuator steps, chooses from them, follows the
// user's clicks on the panel, and is refused while a recording runs or for
// entries that do not exist. What reached the receiver is read from the
// simulator's journal; the thirteen entry points keep their answers.
#include <climits>
#include <cstdlib>
#include <cstring>
#include <thread>

#include "ports/host_link.h"
#include "tests/wine/recording_support.h"

namespace halvorn::wine_tests {
namespace {

using panel::kAttenuator0dB;
using panel::kAttenuator30dB;

class ExtendedEntryPointsTest : public RecordingTest {
 protected:
  std::size_t Count(int status) const {
    const auto statuses = Statuses();
    return static_cast<std::size_t>(std::count(statuses.begin(), statuses.end(), status));
  }
  // The marked buttons from `first` to `last`.
  std::vector<int> Marked(int first, int last) const {
    std::vector<int> marked;
    for (int id = first; id <= last; ++id) {
      if (Checked(id)) marked.push_back(id);
    }
    return marked;
  }
  // The attenuator list as a host reads it, which also asks for status 125.
  std::vector<float> AttenuatorMenu() {
    std::vector<float> levels;
    float level = 0.0f;
    while (levels.size() < 16 && plugin_->GetAttenuators(static_cast<int>(levels.size()), &level) == 0) {
      levels.push_back(level);
    }
    return levels;
  }
};

TEST_F(ExtendedEntryPointsTest, VersionInfoBeforeInitHwTakesAnyNameAndReadsNoFurtherThanItNeeds) {
  plugin_->VersionInfo("HDSDR", 2, 81);
  plugin_->VersionInfo(nullptr, 0, 0);
  // A name without its terminating zero that ends where readable memory ends.
  SYSTEM_INFO system{};
  GetSystemInfo(&system);
  auto* pages = static_cast<char*>(VirtualAlloc(nullptr, 2 * system.dwPageSize, MEM_RESERVE | MEM_COMMIT,
                                                PAGE_READWRITE));
  ASSERT_NE(pages, nullptr);
  DWORD old = 0;
  ASSERT_TRUE(VirtualProtect(pages + system.dwPageSize, system.dwPageSize, PAGE_NOACCESS, &old));
  std::memset(pages + system.dwPageSize - 64, 'x', 64);
  plugin_->VersionInfo(pages + system.dwPageSize - 64, 3, 0);
  VirtualFree(pages, 0, MEM_RELEASE);
  ASSERT_NO_FATAL_FAILURE(OpenReceiver());
  EXPECT_EQ(plugin_->GetHWSR(), 125000);
}

TEST_F(ExtendedEntryPointsTest, TheMenusAreThePanelsRowsWithTheirCaptionsBandwidthsAndTheFourSteps) {
  ASSERT_NO_FATAL_FAILURE(OpenReceiver());
  double rate = -1.0;
  int rows = 0;
  for (; rows < 16 && plugin_->ExtIoGetSrates(rows, &rate) == 0; ++rows) {
    EXPECT_EQ(rate, receiver::kSampleRateTable[rows].rate_hz) << rows;
    // "125 kS/s (BW= 120 kHz)": the bandwidth is the caption's.
    const std::string caption = Text(kFirstRateButton + rows);
    const std::size_t at = caption.find("BW= ");
    ASSERT_NE(at, std::string::npos) << caption;
    EXPECT_EQ(plugin_->ExtIoGetBandwidth(rows), 1000 * std::atol(caption.c_str() + at + 4)) << caption;
  }
  EXPECT_EQ(rows, 9);
  EXPECT_EQ(plugin_->ExtIoGetActualSrateIdx(), 0);
  EXPECT_EQ(AttenuatorMenu(), (std::vector<float>{-30.0f, -20.0f, -10.0f, 0.0f}));
  EXPECT_EQ(plugin_->GetActualAttIdx(), 3);

  // Past either end: an error, and the host's cell left alone.
  for (int index : {-1, 9, INT_MIN}) {
    rate = -1.0;
    EXPECT_NE(plugin_->ExtIoGetSrates(index, &rate), 0) << index;
    EXPECT_EQ(rate, -1.0);
    EXPECT_LE(plugin_->ExtIoGetBandwidth(index), 0) << index;
  }
  float level = 1.0f;
  EXPECT_NE(plugin_->GetAttenuators(4, &level), 0);
  EXPECT_NE(plugin_->GetAttenuators(-1, &level), 0);
  EXPECT_EQ(level, 1.0f);
  EXPECT_NE(plugin_->ExtIoGetSrates(0, nullptr), 0);
  EXPECT_NE(plugin_->GetAttenuators(0, nullptr), 0);
}

TEST_F(ExtendedEntryPointsTest, AHostsChoiceActsAsAClickWithoutTellingTheHostWhatItChose) {
  ASSERT_NO_FATAL_FAILURE(OpenReceiver());
  AttenuatorMenu();
  ASSERT_EQ(plugin_->SetHWLO(kTestLoHz), 0);
  const std::size_t before = JournalLength();

  EXPECT_EQ(plugin_->ExtIoSetSrate(kTwoMegaRow), 0);
  EXPECT_EQ(plugin_->GetHWSR(), 2000000);
  EXPECT_EQ(plugin_->ExtIoGetActualSrateIdx(), kTwoMegaRow);
  EXPECT_EQ(plugin_->SetAttenuator(1), 0);  // -20 dB
  EXPECT_EQ(plugin_->GetActualAttIdx(), 1);
  EXPECT_EQ(Marked(kFirstRateButton, panel::kLastRateButton), std::vector<int>{kFirstRateButton + kTwoMegaRow});
  EXPECT_EQ(Marked(kAttenuator0dB, kAttenuator30dB), std::vector<int>{kAttenuator0dB + 2});
  // The attenuator reached the receiver at once; the bitstream waits for the
  // next tune, as after a click.
  const auto attenuator = CallsSince(before, "SetAttenuator");
  ASSERT_EQ(attenuator.size(), 1u);
  EXPECT_EQ(attenuator[0]["step"], "2");
  EXPECT_TRUE(CallsSince(before, "FpgaConfig").empty());
  host::PumpMessagesFor(100);
  EXPECT_EQ(Count(kStatusSampleRateChanged), 0u);
  EXPECT_EQ(Count(kStatusAttenuatorChanged), 0u);

  // The thirteen answer as before: the stream runs at the chosen rate.
  const std::size_t at_start = JournalLength();
  ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
  const auto lines = journal_.Lines();
  std::vector<std::string> loaded;
  for (std::size_t i = at_start; i < lines.size(); ++i) {
    if (lines[i].entry == "FpgaConfig" || lines[i].entry == "Sio") loaded.push_back(lines[i].entry);
    if (lines[i].entry == "FpgaConfig") {
      EXPECT_EQ(lines[i]["name"], "halvorn2m24v21");
    }
    if (lines[i].entry == "StartAsyncInput") {
      EXPECT_EQ(lines[i]["bytes"], "98304");
    }
  }
  // Loaded once, before the tuning and the stream's start reach the receiver.
  ASSERT_FALSE(loaded.empty());
  EXPECT_EQ(loaded[0], "FpgaConfig");
  EXPECT_EQ(std::count(loaded.begin(), loaded.end(), "FpgaConfig"), 1);
  EXPECT_TRUE(PumpUntil([&] { return callback_.blocks() > 50; }, 10000));
  EXPECT_EQ(plugin_->SetHWLO(14200000), 0);
  EXPECT_EQ(plugin_->GetHWLO(), 14200000);
  EXPECT_EQ(plugin_->GetStatus(), 0);
  plugin_->StopHW();
  EXPECT_EQ(callback_.missing_pairs(), 0u);
  EXPECT_TRUE(callback_.faults().empty());
  EXPECT_TRUE(plugin_->CloseHW());
}

TEST_F(ExtendedEntryPointsTest, TheHostFollowsTheUsersClicksAndHearsOfTheAttenuatorOnceItAskedForTheList) {
  ASSERT_NO_FATAL_FAILURE(OpenReceiver());
  ClickAsUser(kAttenuator0dB + 2);
  host::PumpMessagesFor(100);
  EXPECT_EQ(Count(kStatusAttenuatorChanged), 0u) << "the host never asked for the attenuator list";

  AttenuatorMenu();
  ClickAsUser(kFirstRateButton + 1);
  ClickAsUser(kAttenuator30dB);
  ClickAsUser(kAttenuator30dB);  // sent again, but nothing changed for the host
  host::PumpMessagesFor(100);
  EXPECT_EQ(Count(kStatusSampleRateChanged), 1u);
  EXPECT_EQ(plugin_->ExtIoGetActualSrateIdx(), 1);
  EXPECT_EQ(Count(kStatusAttenuatorChanged), 1u);
  EXPECT_EQ(plugin_->GetActualAttIdx(), 0);
  EXPECT_EQ(journal_.Calls("SetAttenuator").back()["step"], "3");

  // OpenHW puts the attenuator back to 0 dB, and the host hears of that too,
  // from the panel's thread.
  ASSERT_TRUE(plugin_->OpenHW());
  ASSERT_TRUE(testing::PanelCaughtUp());
  EXPECT_EQ(Count(kStatusAttenuatorChanged), 2u);
  EXPECT_EQ(plugin_->GetActualAttIdx(), 3);
  ASSERT_TRUE(plugin_->OpenHW());
  ASSERT_TRUE(testing::PanelCaughtUp());
  EXPECT_EQ(Count(kStatusAttenuatorChanged), 2u);
}

TEST_F(ExtendedEntryPointsTest, ChoicesThatWouldChangeARecordingsSettingsOrDoNotExistAreRefused) {
  ASSERT_NO_FATAL_FAILURE(OpenReceiver());
  ASSERT_NO_FATAL_FAILURE(StartStream("counting", "realtime"));
  ASSERT_EQ(plugin_->ExtIoSetSrate(1), 0);
  ASSERT_EQ(plugin_->SetAttenuator(1), 0);
  const std::string name = ClickRec();

  const std::size_t journal_before = JournalLength();
  const std::size_t statuses_before = Statuses().size();
  EXPECT_NE(plugin_->ExtIoSetSrate(kTwoMegaRow), 0);
  EXPECT_NE(plugin_->SetAttenuator(3), 0);
  // Asking for what is in use is no change.
  EXPECT_EQ(plugin_->ExtIoSetSrate(1), 0);
  EXPECT_EQ(plugin_->SetAttenuator(1), 0);
  for (int index : {-1, 9, INT_MIN, INT_MAX}) EXPECT_NE(plugin_->ExtIoSetSrate(index), 0) << index;
  for (int index : {-1, 4, INT_MAX}) EXPECT_NE(plugin_->SetAttenuator(index), 0) << index;
  host::PumpMessagesFor(200);
  EXPECT_EQ(JournalLength(), journal_before);
  EXPECT_EQ(Statuses().size(), statuses_before);
  EXPECT_EQ(plugin_->GetHWSR(), 250000);
  EXPECT_EQ(plugin_->GetActualAttIdx(), 1);
  EXPECT_EQ(Marked(kFirstRateButton, panel::kLastRateButton), std::vector<int>{kFirstRateButton + 1});
  EXPECT_EQ(Marked(kAttenuator0dB, kAttenuator30dB), std::vector<int>{kAttenuator0dB + 2});

  ClickStop();
  plugin_->StopHW();
  const auto recording = ReadRecording(name);
  ASSERT_TRUE(recording) << name;
  EXPECT_EQ(recording->row(), 1);
  EXPECT_EQ(recording->sample_rate(), 250000u);
  EXPECT_EQ(recording->attenuator_step(), 2);
  // Once the recording is over, so is the refusal; an invalid row stays refused.
  EXPECT_EQ(plugin_->ExtIoSetSrate(kTwoMegaRow), 0);
  EXPECT_EQ(plugin_->GetHWSR(), 2000000);
  EXPECT_NE(plugin_->ExtIoSetSrate(9), 0);
  EXPECT_EQ(plugin_->GetHWSR(), 2000000);
}

TEST_F(ExtendedEntryPointsTest, AChoiceFromAnotherThreadReachesThePanelWhenItsThreadPumps) {
  ASSERT_NO_FATAL_FAILURE(OpenReceiver());
  int rate_answer = -1;
  int attenuator_answer = -1;
  std::thread host_thread([&] {
    rate_answer = plugin_->ExtIoSetSrate(6);
    attenuator_answer = plugin_->SetAttenuator(0);
  });
  host_thread.join();
  EXPECT_EQ(rate_answer, 0);
  EXPECT_EQ(attenuator_answer, 0);
  EXPECT_EQ(plugin_->GetHWSR(), 48077);
  EXPECT_EQ(journal_.Calls("SetAttenuator").back()["step"], "3");
  EXPECT_TRUE(PumpUntil([&] { return Checked(kFirstRateButton + 6) && Checked(kAttenuator30dB); }, 5000));
  EXPECT_EQ(Marked(kFirstRateButton, panel::kLastRateButton), std::vector<int>{kFirstRateButton + 6});
  EXPECT_EQ(Marked(kAttenuator0dB, kAttenuator30dB), std::vector<int>{kAttenuator30dB});
}

using SwitchGuiTest = PluginTest;

TEST_F(SwitchGuiTest, ShowsAPanelThatIsHiddenOrMinimisedAndMinimisesAShownOne) {
  ASSERT_EQ(FindPanelFrame(), nullptr);
  plugin_->SwitchGUI();
  ASSERT_TRUE(testing::PanelCaughtUp());
  const HWND frame = FindPanelFrame();
  ASSERT_NE(frame, nullptr) << "SwitchGUI made no panel";
  // Each switch is done on the panel's thread, perhaps after the call returned.
  const auto shown = [&] { return testing::PanelCaughtUp() && IsWindowVisible(frame) && !IsIconic(frame); };
  const auto minimised = [&] { return testing::PanelCaughtUp() && IsIconic(frame); };
  EXPECT_TRUE(shown());
  plugin_->SwitchGUI();
  EXPECT_TRUE(minimised());
  plugin_->SwitchGUI();
  EXPECT_TRUE(shown());
  plugin_->HideGUI();
  plugin_->SwitchGUI();
  EXPECT_TRUE(shown());
  // The user minimised it.
  ShowWindow(frame, SW_MINIMIZE);
  plugin_->SwitchGUI();
  EXPECT_TRUE(shown());
}

}  // namespace
}  // namespace halvorn::wine_tests

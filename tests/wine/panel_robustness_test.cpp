// The panel under trouble: windows that cannot be created, clicks while a
// message box is open, late timer ticks, host threads that never pump or
// end, and unloads while the host's threads pump or wait.
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstring>
#include <string>
#include <thread>

#include "tests/wine/panel_fixture.h"

namespace halvorn::wine_tests {
namespace {

// ---- Windows that cannot be created: a CBT hook refuses them.

enum class Refuse { kNothing, kFrame, kDialog };
Refuse g_refuse = Refuse::kNothing;

LRESULT CALLBACK RefusePanelWindows(int code, WPARAM wparam, LPARAM lparam) {
  if (code == HCBT_CREATEWND) {
    const CREATESTRUCTA* create = reinterpret_cast<CBT_CREATEWNDA*>(lparam)->lpcs;
    char class_name[32] = {};
    GetClassNameA(reinterpret_cast<HWND>(wparam), class_name, sizeof class_name);
    char parent_title[32] = {};
    if (create->hwndParent != nullptr) GetWindowTextA(create->hwndParent, parent_title, sizeof parent_title);
    const bool frame = create->lpszName != nullptr && !IS_INTRESOURCE(create->lpszName) &&
                       std::strcmp(create->lpszName, "HALVORN SDR") == 0;
    const bool dialog = std::strcmp(class_name, "#32770") == 0 && std::strcmp(parent_title, "HALVORN SDR") == 0;
    if ((g_refuse == Refuse::kFrame && frame) || (g_refuse == Refuse::kDialog && dialog)) return 1;
  }
  return CallNextHookEx(nullptr, code, wparam, lparam);
}

class PanelWithoutWindowsTest : public PluginTest {
 protected:
  // Refuses the panel's windows, which the plug-in's own thread makes, from now on.
  void Refusing(Refuse refuse) {
    g_refuse = refuse;
    hook_ = SetWindowsHookExA(WH_CBT, &RefusePanelWindows, GetModuleHandleA(nullptr), 0);
    ASSERT_NE(hook_, nullptr);
  }
  void TearDown() override {
    if (hook_ != nullptr) UnhookWindowsHookEx(hook_);
    g_refuse = Refuse::kNothing;
    PluginTest::TearDown();
  }

  // Every entry point, as a host drives a receiver, works without a panel.
  void DriveTheReceiver() {
    ASSERT_TRUE(Init());
    ASSERT_TRUE(plugin_->OpenHW());
    plugin_->SetCallback(&testing::CountingHost::Callback);
    EXPECT_EQ(journal_.Calls("SetAttenuator").size(), 1u);
    plugin_->ShowGUI();
    EXPECT_EQ(plugin_->StartHW(7050000), 1024);
    EXPECT_TRUE(PumpUntil([&] { return callback_.blocks() > 10; }, 5000)) << "no samples without a panel";
    EXPECT_EQ(plugin_->SetHWLO(3600000), 0);
    EXPECT_EQ(plugin_->GetHWLO(), 3600000);
    EXPECT_EQ(plugin_->GetHWSR(), 125000);
    plugin_->TuneChanged(3600500);
    plugin_->HideGUI();
    plugin_->StopHW();
    EXPECT_TRUE(plugin_->CloseHW());
    host::PumpMessagesFor(100);
    EXPECT_TRUE(boxes_.seen().empty());
  }

  HHOOK hook_ = nullptr;
};

TEST_F(PanelWithoutWindowsTest, AFrameThatCannotBeCreatedLeavesEveryEntryPointWorking) {
  Refusing(Refuse::kFrame);
  DriveTheReceiver();
  EXPECT_EQ(FindPanelFrame(), nullptr);
}

TEST_F(PanelWithoutWindowsTest, ADialogThatCannotBeCreatedLeavesTheEmptyFrameHidden) {
  Refusing(Refuse::kDialog);
  DriveTheReceiver();
  const HWND frame = FindPanelFrame();
  ASSERT_NE(frame, nullptr);
  EXPECT_EQ(GetWindow(frame, GW_CHILD), nullptr);
  // An empty frame is never worth showing, topmost over the host.
  plugin_->ShowGUI();
  EXPECT_FALSE(IsWindowVisible(FindPanelFrame()));
}

// ---- Clicks while a message box is open on the panel's thread.

class PanelRobustnessTest : public PanelTest {};

TEST_F(PanelRobustnessTest, WhileABitstreamMessageIsOpenThePanelTakesNoClickAndGoesOnAfterwards) {
  RecordIntoTemporaryDirectory();
  OpenReceiver();
  ASSERT_EQ(plugin_->SetHWLO(7050000), 0);
  plugin_->TuneChanged(7050123);
  ClickWithMouse(panel::RateButtonFor(1));  // leaves a bitstream load pending for the calibration
  ASSERT_TRUE(PumpUntil([&] { return plugin_->GetHWSR() == 250000; }, 5000));
  SetSimulator("HALVORNSIM_FAIL", "FpgaConfig");

  boxes_.HoldOpen(true);  // a user who reads it for a while
  const POINT rec = CentreOf(Control(panel::kRecButton));
  const size_t before = JournalLength();
  ClickWithMouse(panel::kClockCalibrate);  // "Clk Calib": the load fails and the message opens
  ASSERT_TRUE(boxes_.WaitFor(1, 10000));
  EXPECT_EQ(boxes_.seen()[0].text, "FPGA configuration file not found\nPlease check installation and retry");
  ClickAt(rec);  // "Rec", clicked while the box is open
  host::PumpMessagesFor(300);
  boxes_.HoldOpen(false);
  SetSimulator("HALVORNSIM_FAIL", "");

  // The box is task-modal: the click on "Rec" while it was open was not
  // taken, and the calibration went on to retune when the box closed.
  EXPECT_TRUE(PumpUntil([&] { return !CallsSince(before, "Sio").empty(); }, 5000));
  EXPECT_TRUE(Statuses().empty() || Statuses().back() != 102);
  for (int id : SettingControls()) EXPECT_TRUE(Enabled(id)) << id;
  EXPECT_TRUE(Enabled(panel::kRecButton));
  EXPECT_FALSE(Enabled(panel::kStopButton));

  // The panel takes clicks again.
  ClickWithMouse(panel::kRecButton);
  ASSERT_TRUE(PumpUntil([&] { return Enabled(panel::kStopButton); }, 5000));
  ClickWithMouse(panel::kStopButton);
  ASSERT_TRUE(PumpUntil([&] { return Enabled(panel::kRecButton); }, 5000));
  EXPECT_EQ(Statuses().back(), 103);
  EXPECT_EQ(boxes_.seen().size(), 1u);
}

TEST_F(PanelRobustnessTest, TimerTicksAfterARecordingStoppedChangeNothing) {
  RecordIntoTemporaryDirectory();
  OpenReceiver();
  ClickWithMouse(panel::kRecButton);
  ASSERT_TRUE(PumpUntil([&] { return Enabled(panel::kStopButton); }, 5000));
  host::PumpMessagesFor(1200);
  ClickWithMouse(panel::kStopButton);
  ASSERT_TRUE(PumpUntil([&] { return Enabled(panel::kRecButton); }, 5000));
  const std::string name = Text(panel::kFileNameField), size = Text(panel::kFileSizeField),
                    time = Text(panel::kRecordingTimeField);
  const auto statuses = Statuses();

  // Late ticks: one of the status timer and one of any other timer.
  PostMessageA(Dialog(), WM_TIMER, 1, 0);
  PostMessageA(Dialog(), WM_TIMER, 7, 0);
  host::PumpMessagesFor(1500);
  EXPECT_EQ(Text(panel::kFileNameField), name);
  EXPECT_EQ(Text(panel::kFileSizeField), size);
  EXPECT_EQ(Text(panel::kRecordingTimeField), time);
  EXPECT_EQ(Statuses(), statuses);
  EXPECT_TRUE(boxes_.seen().empty());
  EXPECT_FALSE(Enabled(panel::kStopButton));
}

// A host that opens the receiver on a worker which then waits without ever
// pumping, and shows the panel on a thread that ends: the panel, which is
// the plug-in's own, shows what they asked and answers the user's clicks.
TEST_F(PanelRobustnessTest, AfterHostThreadsThatNeverPumpOrHaveEndedThePanelAnswersClicks) {
  const HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> opened{false};
  std::thread worker([&] {
    opened = Init() && plugin_->OpenHW();
    plugin_->SetCallback(&testing::CountingHost::Callback);
    WaitForSingleObject(release, INFINITE);
  });
  std::thread shower([&] { plugin_->ShowGUI(); });
  shower.join();
  ASSERT_TRUE(PumpUntil([&] { return opened.load(); }, 10000));
  EXPECT_TRUE(Checked(panel::kAttenuator0dB) && Checked(panel::kPreselector) && Checked(panel::kAdcDither) &&
              Checked(panel::kFirstRateButton));
  EXPECT_FALSE(Enabled(panel::kStopButton));
  EXPECT_EQ(Text(panel::kFileNameField), " ");
  EXPECT_TRUE(IsWindowVisible(Frame()));
  EXPECT_FALSE(IsIconic(Frame()));

  ClickWithMouse(panel::RateButtonFor(3));
  EXPECT_TRUE(PumpUntil([&] { return plugin_->GetHWSR() == 1000000 && !Statuses().empty(); }, 3000));
  EXPECT_EQ(Statuses(), std::vector<int>{100});
  SetEvent(release);
  worker.join();
  CloseHandle(release);
}

TEST_F(PanelRobustnessTest, ClicksOnThePanelAndAHostThreadTuningAtOnceBothGoOn) {
  OpenReceiver();
  std::atomic<bool> stop{false};
  std::atomic<int> tunes{0};
  std::thread host_thread([&] {
    while (!stop) {
      plugin_->SetHWLO(7000000 + (tunes % 100) * 1000);
      plugin_->TuneChanged(7000000);
      plugin_->GetHWSR();
      ++tunes;
    }
  });
  const size_t before = JournalLength();
  for (int id : {panel::kAttenuator0dB + 1, panel::kAdcPreamp, panel::kAttenuator0dB + 2, panel::kAdcPreamp,
                 panel::kAttenuator0dB})
    ClickWithMouse(id);
  EXPECT_TRUE(PumpUntil([&] { return CallsSince(before, "SetAttenuator").size() == 3; }, 5000));
  stop = true;
  host_thread.join();
  EXPECT_GT(tunes.load(), 0);
  EXPECT_TRUE(Checked(panel::kAttenuator0dB));
  EXPECT_FALSE(Checked(panel::kAdcPreamp));
}

// ---- Unloading while the host's threads pump or wait.

class PanelUnloadTest : public PanelTest {
 protected:
  // Starts streaming and a recording, so the unload has both to finish.
  std::string StreamAndRecord() {
    const std::string recordings = RecordIntoTemporaryDirectory();
    OpenReceiver();
    EXPECT_EQ(plugin_->StartHW(7050000), 1024);
    ClickWithMouse(panel::kRecButton);
    EXPECT_TRUE(PumpUntil([&] { return Enabled(panel::kStopButton); }, 5000));
    host::PumpMessagesFor(500);
    return recordings + Text(panel::kFileNameField);
  }

  static DWORD WINAPI Unload(LPVOID plugin) {
    return static_cast<host::ExtIoPlugin*>(plugin)->Unload() ? 1 : 0;
  }

  // The recording was finished with the module.
  void ExpectFinished(const std::string& recording) {
    const RecordingSizes sizes = ReadRecordingSizes(recording);
    EXPECT_GT(sizes.data_size, 0u) << recording;
    EXPECT_EQ(sizes.riff_size, sizes.file_bytes - 8);
    EXPECT_EQ(sizes.data_size, sizes.file_bytes - 90);
  }
};

TEST_F(PanelUnloadTest, AnUnloadOnAnotherThreadWhileTheLoadingThreadPumpsTakesThePanelAway) {
  const std::string recording = StreamAndRecord();
  const HWND frame = Frame();
  HANDLE thread = CreateThread(nullptr, 0, &Unload, plugin_.get(), 0, nullptr);
  ASSERT_NE(thread, nullptr);
  // A host's message loop, going on during the unload.
  while (MsgWaitForMultipleObjects(1, &thread, FALSE, 30000, QS_ALLINPUT) == WAIT_OBJECT_0 + 1) {
    host::PumpMessagesFor(0);
  }
  DWORD unloaded = 0;
  GetExitCodeThread(thread, &unloaded);
  CloseHandle(thread);
  EXPECT_EQ(unloaded, 1u);
  // The panel's own thread takes it down once the module has gone.
  EXPECT_TRUE(PumpUntil([&] { return !IsWindow(frame); }, 3000));
  ExpectFinished(recording);
}

TEST_F(PanelUnloadTest, AnUnloadOnAnotherThreadWhileTheLoadingThreadWaitsLeavesNothingToIt) {
  const std::string recording = StreamAndRecord();
  plugin_->ShowGUI();
  const HWND frame = Frame();
  const HWND dialog = Dialog();
  HANDLE thread = CreateThread(nullptr, 0, &Unload, plugin_.get(), 0, nullptr);
  ASSERT_NE(thread, nullptr);
  // A host that waits for its worker without pumping messages.
  ASSERT_EQ(WaitForSingleObject(thread, 30000), WAIT_OBJECT_0) << "the unload hung";
  DWORD unloaded = 0;
  GetExitCodeThread(thread, &unloaded);
  CloseHandle(thread);
  EXPECT_EQ(unloaded, 1u);

  // Whatever reaches the panel before its thread takes it down is harmless,
  // the keyboard, the timer and painting included; this thread is asked
  // for nothing.
  if (IsWindow(frame)) {
    SendMessageA(dialog, WM_TIMER, 1, 0);
    SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(panel::kRecButton, BN_CLICKED), 0);
    SendMessageA(GetDlgItem(dialog, panel::kAdcPreamp), WM_KEYDOWN, VK_TAB, 0);
    RedrawWindow(frame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  }
  for (DWORD waited = 0; IsWindow(frame) && waited < 3000; waited += 10) Sleep(10);
  EXPECT_FALSE(IsWindow(frame));
  MSG message;
  while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
    EXPECT_TRUE(message.message != WM_CLOSE && message.message < WM_APP) << "message " << message.message;
  }
  EXPECT_EQ(FindPanelFrame(), nullptr);
  EXPECT_TRUE(boxes_.seen().empty());
  ExpectFinished(recording);
}

}  // namespace
}  // namespace halvorn::wine_tests

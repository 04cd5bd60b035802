// The panel under trouble: windows that cannot be created, clicks while a
// message box is open, late timer ticks, host threads, and an unload from a
// thread other than the window's.
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
  // Refuses the panel's windows made on this thread from now on.
  void Refusing(Refuse refuse) {
    g_refuse = refuse;
    hook_ = SetWindowsHookExA(WH_CBT, &RefusePanelWindows, nullptr, GetCurrentThreadId());
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
  host::PumpMessagesFor(50);
  EXPECT_FALSE(IsWindowVisible(frame));
}

TEST_F(PanelWithoutWindowsTest, APanelWhoseThreadEndedIsMadeAgainByTheNextShow) {
  // A host that first shows the panel on a worker thread which then ends:
  // the system takes the panel's windows with the thread.
  std::thread worker([&] {
    ASSERT_TRUE(Init());
    plugin_->ShowGUI();
  });
  worker.join();
  host::PumpMessagesFor(100);
  EXPECT_EQ(FindPanelFrame(), nullptr);
  DriveTheReceiver();
  EXPECT_NE(FindPanelFrame(), nullptr);
}

// ---- Clicks while a message box is open on the window thread.

// While `g_hold_box` is set, the OK that the fixture's box watcher posts is
// dropped, so the box stays open until the test closes it itself.
std::atomic<bool> g_hold_box{false};

LRESULT CALLBACK HoldMessageBoxes(int code, WPARAM removal, LPARAM message_pointer) {
  auto* message = reinterpret_cast<MSG*>(message_pointer);
  if (code == HC_ACTION && g_hold_box && message->message == WM_COMMAND && LOWORD(message->wParam) == IDOK) {
    char class_name[16] = {};
    GetClassNameA(message->hwnd, class_name, sizeof class_name);
    if (std::strcmp(class_name, "#32770") == 0 && GetParent(message->hwnd) == nullptr) message->message = WM_NULL;
  }
  return CallNextHookEx(nullptr, code, removal, message_pointer);
}

BOOL CALLBACK FindOpenBox(HWND window, LPARAM found) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char class_name[16] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  if (process == GetCurrentProcessId() && IsWindowVisible(window) && std::strcmp(class_name, "#32770") == 0) {
    *reinterpret_cast<HWND*>(found) = window;
    return FALSE;
  }
  return TRUE;
}

HWND OpenBox() {
  HWND box = nullptr;
  EnumWindows(&FindOpenBox, reinterpret_cast<LPARAM>(&box));
  return box;
}

// What happens inside the box's modal loop, driven by a thread timer that
// the loop dispatches: once the box is open, one real click on `g_click`,
// a moment for it to be handled, then the box is closed with OK.
struct DuringBox {
  POINT click{};
  std::string started;  // the click's xdotool run
  int ticks_after_click = 0;
  bool box_seen = false;
  bool clicked = false;
  bool closed = false;
};
DuringBox g_during;

void CALLBACK ActDuringBox(HWND, UINT, UINT_PTR, DWORD) {
  const HWND box = OpenBox();
  if (box == nullptr || g_during.closed) return;
  g_during.box_seen = true;
  if (!g_during.clicked) {
    g_during.started = StartUnixProgram(XClickCommand(g_during.click));
    g_during.clicked = true;
    return;
  }
  bool succeeded = false;
  if (!g_during.started.empty() && !UnixProgramFinished(g_during.started, &succeeded)) return;
  g_during.started.clear();
  // The click is X input now; give the box's loop a few turns to handle it.
  if (++g_during.ticks_after_click < 5) return;
  g_hold_box = false;
  g_during.closed = true;
  PostMessageA(box, WM_COMMAND, IDOK, 0);
}

class PanelRobustnessTest : public PanelTest {};

TEST_F(PanelRobustnessTest, WhileABitstreamMessageIsOpenThePanelTakesNoClickAndGoesOnAfterwards) {
  RecordIntoTemporaryDirectory();
  OpenReceiver();
  ASSERT_EQ(plugin_->SetHWLO(7050000), 0);
  plugin_->TuneChanged(7050123);
  ClickWithMouse(panel::RateButtonFor(1));  // leaves a bitstream load pending for the calibration
  ASSERT_TRUE(PumpUntil([&] { return plugin_->GetHWSR() == 250000; }, 5000));
  SetSimulator("HALVORNSIM_FAIL", "FpgaConfig");

  const HHOOK hook = SetWindowsHookExA(WH_GETMESSAGE, &HoldMessageBoxes, nullptr, GetCurrentThreadId());
  g_hold_box = true;
  g_during = DuringBox{};
  g_during.click = CentreOf(Control(panel::kRecButton));  // "Rec", clicked while the box is open
  const UINT_PTR timer = SetTimer(nullptr, 0, 100, &ActDuringBox);
  const size_t before = JournalLength();
  ClickWithMouse(panel::kClockCalibrate);  // "Clk Calib": the load fails and the message opens
  EXPECT_TRUE(PumpUntil([] { return g_during.closed; }, 20000)) << "box seen " << g_during.box_seen;
  KillTimer(nullptr, timer);
  g_hold_box = false;
  UnhookWindowsHookEx(hook);
  SetSimulator("HALVORNSIM_FAIL", "");

  ASSERT_TRUE(boxes_.WaitFor(1, 5000));
  EXPECT_EQ(boxes_.seen()[0].text, "FPGA configuration file not found\nPlease check installation and retry");
  // The box is task-modal: the click on "Rec" while it was open was not
  // taken, and the calibration went on to retune when the box closed.
  host::PumpMessagesFor(300);
  EXPECT_TRUE(Statuses().empty() || Statuses().back() != 102);
  EXPECT_FALSE(CallsSince(before, "Sio").empty());
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

TEST_F(PanelRobustnessTest, EntryPointsOnAHostThreadReachTheWindowsThatTheWindowThreadOwns) {
  std::atomic<bool> done{false};
  bool opened = false;
  std::thread host_thread([&] {
    opened = Init() && plugin_->OpenHW();
    plugin_->SetCallback(&testing::CountingHost::Callback);
    done = true;
  });
  // The window thread pumps, as a host's would, while the host thread works.
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 10000));
  host_thread.join();
  // What the host thread asked of the windows is done as the window thread pumps.
  host::PumpMessagesFor(100);
  ASSERT_TRUE(opened);
  EXPECT_TRUE(Checked(panel::kAttenuator0dB) && Checked(panel::kPreselector) && Checked(panel::kAdcDither) &&
              Checked(panel::kFirstRateButton));
  EXPECT_FALSE(Enabled(panel::kStopButton));
  EXPECT_EQ(Text(panel::kFileNameField), " ");
  EXPECT_TRUE(IsWindowVisible(Frame()));
  EXPECT_FALSE(IsIconic(Frame()));

  done = false;
  std::thread hide([&] {
    plugin_->HideGUI();
    done = true;
  });
  EXPECT_TRUE(PumpUntil([&] { return done.load(); }, 10000));
  hide.join();
  host::PumpMessagesFor(100);
  EXPECT_TRUE(IsIconic(Frame()));
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

// ---- Unloading from a thread other than the window thread.

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
};

TEST_F(PanelUnloadTest, AnUnloadOnAnotherThreadWhileTheWindowThreadPumpsDestroysThePanel) {
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
  EXPECT_FALSE(IsWindow(frame));
  host::PumpMessagesFor(200);

  const RecordingSizes sizes = ReadRecordingSizes(recording);
  EXPECT_GT(sizes.data_size, 0u) << recording;
  EXPECT_EQ(sizes.riff_size, sizes.file_bytes - 8);
  EXPECT_EQ(sizes.data_size, sizes.file_bytes - 90);
}

TEST_F(PanelUnloadTest, AnUnloadOnAnotherThreadWhileTheWindowThreadWaitsLeavesWindowsThatCloseHarmlessly) {
  const std::string recording = StreamAndRecord();
  plugin_->ShowGUI();
  host::PumpMessagesFor(50);
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

  // The windows outlive the module until their own thread takes the close it
  // was sent; every message they get meanwhile must be harmless, the
  // keyboard, the timer and painting included.
  ASSERT_TRUE(IsWindow(frame));
  SendMessageA(dialog, WM_TIMER, 1, 0);
  SendMessageA(dialog, WM_COMMAND, MAKEWPARAM(panel::kRecButton, BN_CLICKED), 0);
  SendMessageA(GetDlgItem(dialog, panel::kAdcPreamp), WM_KEYDOWN, VK_TAB, 0);
  RedrawWindow(frame, nullptr, nullptr, RDW_INVALIDATE | RDW_ERASE | RDW_ALLCHILDREN | RDW_UPDATENOW);
  EXPECT_TRUE(IsWindow(frame));
  host::PumpMessagesFor(300);
  EXPECT_FALSE(IsWindow(frame));
  EXPECT_EQ(FindPanelFrame(), nullptr);
  EXPECT_TRUE(boxes_.seen().empty());

  const RecordingSizes sizes = ReadRecordingSizes(recording);
  EXPECT_GT(sizes.data_size, 0u) << recording;
  EXPECT_EQ(sizes.riff_size, sizes.file_bytes - 8);
  EXPECT_EQ(sizes.data_size, sizes.file_bytes - 90);
}

}  // namespace
}  // namespace halvorn::wine_tests

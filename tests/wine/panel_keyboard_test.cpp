// Keys typed through the X server: Tab and the arrow keys work inside the
// panel, which the plug-in's own thread runs, and the host's own windows get
// their keys as before.
#include <windows.h>

#include <algorithm>
#include <string>

#include "tests/wine/panel_fixture.h"

namespace halvorn::wine_tests {
namespace {

class PanelKeyboardTest : public PanelTest {
 protected:
  // The panel shown and active, the keyboard focus on control `id`, as the
  // dialog itself moves it.
  void FocusInPanel(int id) {
    SetForegroundWindow(Frame());
    SendMessageA(Dialog(), WM_NEXTDLGCTL, reinterpret_cast<WPARAM>(Control(id)), TRUE);
    host::PumpMessagesFor(100);
    ASSERT_EQ(FocusedId(), id);
  }

  // The control with the keyboard focus on the panel's thread.
  int FocusedId() const {
    GUITHREADINFO info{};
    info.cbSize = sizeof info;
    if (!GetGUIThreadInfo(GetWindowThreadProcessId(Frame(), nullptr), &info)) return 0;
    const HWND focus = info.hwndFocus;
    return focus != nullptr && GetParent(focus) == Dialog() ? static_cast<SHORT>(GetDlgCtrlID(focus)) : 0;
  }

  int CountStatus(int status) const {
    const auto statuses = Statuses();
    return static_cast<int>(std::count(statuses.begin(), statuses.end(), status));
  }
};

TEST_F(PanelKeyboardTest, TabMovesThroughTheEnabledTabStopsInTemplateOrder) {
  OpenReceiver();
  FocusInPanel(panel::kAdcPreamp);
  // "Stop" is disabled after OpenHW; a marked radio button is the tab stop of its group.
  for (int expected : {panel::kAdcDither, panel::kClockCalibrate, panel::kRecButton, panel::kPreselector,
                       panel::kFirstRateButton, panel::kAttenuator0dB, panel::kAdcPreamp}) {
    PressKeys("Tab");
    ASSERT_TRUE(PumpUntil([&] { return FocusedId() == expected; }, 3000))
        << "focus on " << FocusedId() << " instead of " << expected;
  }
  PressKeys("shift+Tab");
  EXPECT_TRUE(PumpUntil([&] { return FocusedId() == panel::kAttenuator0dB; }, 3000)) << FocusedId();
  // Navigation changed no setting.
  EXPECT_TRUE(Checked(panel::kAdcDither));
  EXPECT_FALSE(Checked(panel::kAdcPreamp));
}

TEST_F(PanelKeyboardTest, ShowingThePanelGivesTheKeyboardToItsFirstTabStop) {
  OpenReceiver();  // OpenHW shows the panel
  // The first tab stop is the marked attenuator button.
  EXPECT_TRUE(PumpUntil([&] { return FocusedId() == panel::kAttenuator0dB; }, 3000)) << FocusedId();
  PressKeys("Tab");
  EXPECT_TRUE(PumpUntil([&] { return FocusedId() == panel::kAdcPreamp; }, 3000)) << FocusedId();
}

TEST_F(PanelKeyboardTest, ArrowKeysSelectTheNextRateInTheGroup) {
  OpenReceiver();
  FocusInPanel(panel::kFirstRateButton);
  PressKeys("Down");
  ASSERT_TRUE(
      PumpUntil([&] { return FocusedId() == panel::RateButtonFor(1) && Checked(panel::RateButtonFor(1)); }, 3000))
      << FocusedId();
  EXPECT_FALSE(Checked(panel::kFirstRateButton));
  EXPECT_TRUE(PumpUntil([&] { return CountStatus(100) == 1; }, 3000));
  EXPECT_EQ(plugin_->GetHWSR(), 250000);
  PressKeys("Up");
  ASSERT_TRUE(
      PumpUntil([&] { return FocusedId() == panel::kFirstRateButton && Checked(panel::kFirstRateButton); }, 3000))
      << FocusedId();
  EXPECT_EQ(plugin_->GetHWSR(), 125000);
}

TEST_F(PanelKeyboardTest, ArrowKeysStepTheAttenuator) {
  OpenReceiver();
  FocusInPanel(panel::kAttenuator0dB);
  const size_t before = JournalLength();
  PressKeys("Down");
  ASSERT_TRUE(PumpUntil([&] { return !CallsSince(before, "SetAttenuator").empty(); }, 3000));
  EXPECT_EQ(CallsSince(before, "SetAttenuator")[0].Number("step"), 1);
  EXPECT_EQ(FocusedId(), panel::kAttenuator0dB + 1);
  EXPECT_TRUE(Checked(panel::kAttenuator0dB + 1));
}

TEST_F(PanelKeyboardTest, SpaceTogglesTheFocusedCheckBox) {
  OpenReceiver();
  FocusInPanel(panel::kAdcPreamp);
  const size_t before = JournalLength();
  PressKeys("space");
  ASSERT_TRUE(PumpUntil([&] { return !CallsSince(before, "Sio").empty(); }, 3000));
  EXPECT_EQ(CallsSince(before, "Sio")[0].Number("preamp"), 1);
  EXPECT_TRUE(Checked(panel::kAdcPreamp));
}

TEST_F(PanelKeyboardTest, AltF4LeavesThePanelAsItWas) {
  OpenReceiver();
  FocusInPanel(panel::kAdcPreamp);
  PressKeys("alt+F4");
  host::PumpMessagesFor(200);
  ASSERT_NE(Frame(), nullptr);
  EXPECT_TRUE(IsWindowVisible(Frame()));
  EXPECT_FALSE(IsIconic(Frame()));
}

// A window of the host's own: its keys pass the panel untouched.
LRESULT CALLBACK HostWindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(window, message, wparam, lparam);
}

TEST_F(PanelKeyboardTest, TheHostsOwnWindowsGetTheirKeysAsBefore) {
  OpenReceiver();
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = &HostWindowProcedure;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "PanelKeyboardTestHost";
  RegisterClassA(&window_class);
  const HWND host_window = CreateWindowExA(0, "PanelKeyboardTestHost", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 50,
                                           50, 400, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  ASSERT_NE(host_window, nullptr);
  const HWND edit = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 10, 300, 24, host_window,
                                    nullptr, GetModuleHandleA(nullptr), nullptr);
  // OpenHW's showing, on the panel's thread, takes the keyboard: the host
  // takes it back once that and the X server's focus events are over.
  host::PumpMessagesFor(500);
  SetForegroundWindow(host_window);
  SetFocus(edit);
  host::PumpMessagesFor(100);
  ASSERT_EQ(GetFocus(), edit);

  PressKeys("a b Tab c");
  char text[32] = {};
  EXPECT_TRUE(PumpUntil(
      [&] {
        GetWindowTextA(edit, text, sizeof text);
        return std::string(text) == "abc";
      },
      3000))
      << text;
  // The Tab was the host's: the panel's focus did not move into the edit's place.
  EXPECT_EQ(GetFocus(), edit);
  DestroyWindow(host_window);
  UnregisterClassA("PanelKeyboardTestHost", GetModuleHandleA(nullptr));
}

TEST_F(PanelKeyboardTest, LoadingThePluginLeavesTheHostsActiveWindowAndFocusAlone) {
  plugin_.reset();
  WNDCLASSA window_class{};
  window_class.lpfnWndProc = &HostWindowProcedure;
  window_class.hInstance = GetModuleHandleA(nullptr);
  window_class.lpszClassName = "PanelKeyboardTestLoader";
  RegisterClassA(&window_class);
  const HWND host_window = CreateWindowExA(0, "PanelKeyboardTestLoader", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE,
                                           50, 50, 400, 200, nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
  const HWND edit = CreateWindowExA(0, "EDIT", "", WS_CHILD | WS_VISIBLE | WS_BORDER, 10, 10, 300, 24, host_window,
                                    nullptr, GetModuleHandleA(nullptr), nullptr);
  SetForegroundWindow(host_window);
  SetFocus(edit);
  host::PumpMessagesFor(100);
  ASSERT_EQ(GetFocus(), edit);

  // The plug-in loads while the host's window has the keyboard.
  std::string error;
  plugin_ = host::ExtIoPlugin::Load(PluginPath(), &error);
  ASSERT_TRUE(plugin_) << error;
  host::PumpMessagesFor(100);
  EXPECT_EQ(GetActiveWindow(), host_window);
  EXPECT_EQ(GetFocus(), edit);
  PressKeys("x");
  char text[8] = {};
  EXPECT_TRUE(PumpUntil(
      [&] {
        GetWindowTextA(edit, text, sizeof text);
        return std::string(text) == "x";
      },
      3000))
      << text;
  DestroyWindow(host_window);
  UnregisterClassA("PanelKeyboardTestLoader", GetModuleHandleA(nullptr));
}

}  // namespace
}  // namespace halvorn::wine_tests

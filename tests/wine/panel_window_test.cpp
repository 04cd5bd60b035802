// The panel's frame window: made when the host first shows it, parked topmost
// in the bottom-right corner by ShowGUI, OpenHW and StartHW, minimised by
// HideGUI and StopHW, deaf to closing, never resized or maximised.
#include <windows.h>

#include <map>
#include <string>

#include "tests/wine/panel_fixture.h"

namespace halvorn::wine_tests {
namespace {

RECT WindowRect(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return rect;
}

bool SameRect(const RECT& a, const RECT& b) {
  return a.left == b.left && a.top == b.top && a.right == b.right && a.bottom == b.bottom;
}

std::string Describe(const RECT& rect) {
  return "(" + std::to_string(rect.left) + ", " + std::to_string(rect.top) + ", " + std::to_string(rect.right) +
         ", " + std::to_string(rect.bottom) + ")";
}

// The system menu's states, read while the menu is open (the menu's own loop
// runs this timer procedure), after which the menu is closed.
std::map<UINT, UINT> g_menu_states;
HWND g_menu_frame = nullptr;

void CALLBACK ReadSystemMenuAndClose(HWND, UINT, UINT_PTR, DWORD) {
  HMENU menu = GetSystemMenu(g_menu_frame, FALSE);
  for (UINT command : {static_cast<UINT>(SC_SIZE), static_cast<UINT>(SC_MAXIMIZE), static_cast<UINT>(SC_MINIMIZE)}) {
    g_menu_states[command] = GetMenuState(menu, command, MF_BYCOMMAND);
  }
  EndMenu();
}

class PanelWindowTest : public PanelTest {
 protected:
  bool Topmost() const { return (GetWindowLongA(Frame(), GWL_EXSTYLE) & WS_EX_TOPMOST) != 0; }

  // Visible, restored, topmost, sized from the dialog, in the desktop window's corner.
  void ExpectShownInTheCorner() {
    const HWND frame = Frame();
    EXPECT_TRUE(IsWindowVisible(frame));
    EXPECT_FALSE(IsIconic(frame));
    EXPECT_FALSE(IsZoomed(frame));
    EXPECT_TRUE(Topmost());
    const RECT panel = WindowRect(frame);
    const RECT dialog = WindowRect(Dialog());
    const RECT desktop = WindowRect(GetDesktopWindow());
    EXPECT_EQ(panel.right - panel.left, dialog.right - dialog.left + 8) << Describe(panel);
    EXPECT_EQ(panel.bottom - panel.top, dialog.bottom - dialog.top + 32) << Describe(panel);
    EXPECT_EQ(panel.right, desktop.right) << Describe(panel) << " on " << Describe(desktop);
    EXPECT_EQ(panel.bottom, desktop.bottom) << Describe(panel) << " on " << Describe(desktop);
  }

  void ExpectMinimised() {
    EXPECT_TRUE(IsWindowVisible(Frame()));
    EXPECT_TRUE(IsIconic(Frame()));
  }
};

using PanelCreationTest = PluginTest;

TEST_F(PanelCreationTest, ThereIsNoPanelUntilTheHostFirstShowsIt) {
  // Loading makes no window and no thread: windows made under the loader
  // lock can wait for a thread that waits for that lock; hiding a panel that
  // is not there makes none either.
  EXPECT_EQ(FindPanelFrame(), nullptr);
  ASSERT_TRUE(Init());
  plugin_->HideGUI();
  plugin_->StopHW();
  EXPECT_EQ(FindPanelFrame(), nullptr);
  for (const char* first : {"ShowGUI", "OpenHW", "StartHW"}) {
    plugin_.reset();
    std::string error;
    plugin_ = host::ExtIoPlugin::Load(PluginPath(), &error);
    ASSERT_TRUE(plugin_) << error;
    ASSERT_TRUE(Init());
    ASSERT_EQ(FindPanelFrame(), nullptr) << first;
    if (std::string(first) == "ShowGUI") plugin_->ShowGUI();
    if (std::string(first) == "OpenHW") plugin_->OpenHW();
    if (std::string(first) == "StartHW") plugin_->StartHW(7050000);
    ASSERT_TRUE(testing::PanelCaughtUp()) << first;
    const HWND frame = FindPanelFrame();
    ASSERT_NE(frame, nullptr) << first;
    EXPECT_TRUE(IsWindowVisible(frame)) << first;
    const HWND dialog = GetWindow(frame, GW_CHILD);
    ASSERT_NE(dialog, nullptr) << first;
    EXPECT_NE(GetWindowLongA(dialog, GWL_STYLE) & WS_VISIBLE, 0) << first;
    plugin_->StopHW();
  }
}

TEST_F(PanelWindowTest, FrameHasItsCaptionStylesAndWindowClass) {
  const HWND frame = Frame();
  char caption[64] = {};
  GetWindowTextA(frame, caption, sizeof caption);
  EXPECT_STREQ(caption, "HALVORN SDR");
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(frame, GWL_STYLE)) & ~(WS_VISIBLE | WS_MINIMIZE), 0x04CA0000u);
  // The system adds WS_EX_WINDOWEDGE to every captioned window; a panel
  // that has been shown is topmost.
  EXPECT_EQ(static_cast<DWORD>(GetWindowLongA(frame, GWL_EXSTYLE)) & ~(WS_EX_WINDOWEDGE | WS_EX_TOPMOST),
            static_cast<DWORD>(WS_EX_CLIENTEDGE));
  EXPECT_EQ(GetParent(frame), nullptr);
  EXPECT_EQ(GetMenu(frame), nullptr);

  EXPECT_EQ(GetClassLongA(frame, GCL_STYLE), 0x1020u);
  EXPECT_EQ(reinterpret_cast<HCURSOR>(GetClassLongPtrA(frame, GCLP_HCURSOR)), LoadCursorA(nullptr, IDC_ARROW));
  LOGBRUSH brush{};
  ASSERT_NE(GetObjectA(reinterpret_cast<HBRUSH>(GetClassLongPtrA(frame, GCLP_HBRBACKGROUND)), sizeof brush, &brush),
            0);
  EXPECT_EQ(brush.lbStyle, static_cast<UINT>(BS_SOLID));
  EXPECT_EQ(brush.lbColor, GetSysColor(COLOR_BTNFACE));
  const HICON icon = reinterpret_cast<HICON>(GetClassLongPtrA(frame, GCLP_HICON));
  ASSERT_NE(icon, nullptr);
  ICONINFO info{};
  ASSERT_TRUE(GetIconInfo(icon, &info));
  BITMAP mask{};
  GetObjectA(info.hbmMask, sizeof mask, &mask);
  EXPECT_EQ(mask.bmWidth, 32);
  if (info.hbmColor) DeleteObject(info.hbmColor);
  DeleteObject(info.hbmMask);
}

TEST_F(PanelWindowTest, ShowGuiPutsThePanelTopmostInTheBottomRightCorner) {
  plugin_->ShowGUI();
  host::PumpMessagesFor(50);
  ExpectShownInTheCorner();
}

TEST_F(PanelWindowTest, OpenHwAndStartHwShowThePanelToo) {
  ASSERT_TRUE(Init());
  ASSERT_TRUE(plugin_->OpenHW());
  host::PumpMessagesFor(50);
  ExpectShownInTheCorner();
  plugin_->HideGUI();
  EXPECT_EQ(plugin_->StartHW(7050000), 1024);
  host::PumpMessagesFor(50);
  ExpectShownInTheCorner();
  plugin_->StopHW();
}

TEST_F(PanelWindowTest, APanelMovedElsewhereGoesBackToTheCornerAtTheNextShow) {
  plugin_->ShowGUI();
  host::PumpMessagesFor(50);
  const RECT corner = WindowRect(Frame());
  SetWindowPos(Frame(), nullptr, 40, 30, 0, 0, SWP_NOSIZE | SWP_NOZORDER | SWP_NOACTIVATE);
  host::PumpMessagesFor(50);
  ASSERT_EQ(WindowRect(Frame()).left, 40);
  plugin_->ShowGUI();
  host::PumpMessagesFor(50);
  EXPECT_TRUE(SameRect(WindowRect(Frame()), corner)) << Describe(WindowRect(Frame()));
  ExpectShownInTheCorner();
}

TEST_F(PanelWindowTest, HideGuiAndStopHwMinimiseThePanelWithoutHidingIt) {
  plugin_->ShowGUI();
  host::PumpMessagesFor(50);
  plugin_->HideGUI();
  host::PumpMessagesFor(50);
  ExpectMinimised();
  plugin_->HideGUI();
  host::PumpMessagesFor(50);
  ExpectMinimised();

  plugin_->ShowGUI();
  host::PumpMessagesFor(50);
  plugin_->StopHW();
  host::PumpMessagesFor(50);
  ExpectMinimised();
}

TEST_F(PanelWindowTest, ARestoreFromMinimisedPutsThePanelWhereItWasShown) {
  plugin_->ShowGUI();
  host::PumpMessagesFor(50);
  const RECT corner = WindowRect(Frame());
  plugin_->HideGUI();
  host::PumpMessagesFor(50);
  ShowWindow(Frame(), SW_RESTORE);
  host::PumpMessagesFor(50);
  EXPECT_TRUE(SameRect(WindowRect(Frame()), corner)) << Describe(WindowRect(Frame()));
}

TEST_F(PanelWindowTest, ClosingThePanelLeavesItAsItWas) {
  plugin_->ShowGUI();
  host::PumpMessagesFor(50);
  const RECT shown = WindowRect(Frame());
  const HWND frame = Frame();

  PostMessageA(frame, WM_CLOSE, 0, 0);
  host::PumpMessagesFor(100);
  ASSERT_TRUE(IsWindow(frame));
  ExpectShownInTheCorner();
  EXPECT_TRUE(SameRect(WindowRect(frame), shown));

  // The system menu's Close, and Alt+F4, arrive as this command.
  PostMessageA(frame, WM_SYSCOMMAND, SC_CLOSE, 0);
  host::PumpMessagesFor(100);
  ASSERT_TRUE(IsWindow(frame));
  ExpectShownInTheCorner();

  plugin_->HideGUI();
  host::PumpMessagesFor(50);
  PostMessageA(frame, WM_SYSCOMMAND, SC_CLOSE, 0);
  PostMessageA(frame, WM_CLOSE, 0, 0);
  host::PumpMessagesFor(100);
  ASSERT_TRUE(IsWindow(frame));
  ExpectMinimised();
}

TEST_F(PanelWindowTest, ThePanelCannotBeResizedOrMaximised) {
  const DWORD style = static_cast<DWORD>(GetWindowLongA(Frame(), GWL_STYLE));
  EXPECT_EQ(style & WS_THICKFRAME, 0u);
  EXPECT_EQ(style & WS_MAXIMIZEBOX, 0u);
  EXPECT_NE(style & WS_MINIMIZEBOX, 0u);

  plugin_->ShowGUI();
  host::PumpMessagesFor(50);
  const RECT shown = WindowRect(Frame());
  // The system menu, as it pops up, offers neither.
  PostMessageA(Frame(), WM_SYSCOMMAND, SC_KEYMENU, ' ');
  const UINT_PTR timer = SetTimer(nullptr, 0, 300, &ReadSystemMenuAndClose);
  g_menu_states.clear();
  g_menu_frame = Frame();
  ASSERT_TRUE(PumpUntil([] { return !g_menu_states.empty(); }, 5000)) << "the system menu did not open";
  KillTimer(nullptr, timer);
  EXPECT_NE(g_menu_states[SC_SIZE] & (MF_GRAYED | MF_DISABLED), 0u) << g_menu_states[SC_SIZE];
  EXPECT_NE(g_menu_states[SC_MAXIMIZE] & (MF_GRAYED | MF_DISABLED), 0u) << g_menu_states[SC_MAXIMIZE];
  EXPECT_EQ(g_menu_states[SC_MINIMIZE] & (MF_GRAYED | MF_DISABLED), 0u) << g_menu_states[SC_MINIMIZE];
  host::PumpMessagesFor(100);
  EXPECT_TRUE(SameRect(WindowRect(Frame()), shown)) << Describe(WindowRect(Frame()));
  // A double click on the caption maximises only windows that have the box.
  const POINT on_caption{(shown.left + shown.right) / 2,
                         shown.top + GetSystemMetrics(SM_CYFRAME) + GetSystemMetrics(SM_CYCAPTION) / 2};
  ClickAt(on_caption, 2);
  host::PumpMessagesFor(100);
  EXPECT_FALSE(IsZoomed(Frame()));
  EXPECT_TRUE(SameRect(WindowRect(Frame()), shown)) << Describe(WindowRect(Frame()));
}

}  // namespace
}  // namespace halvorn::wine_tests

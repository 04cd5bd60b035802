// Tests of the control panel through the real DLL: finding the panel's
// windows among this process's, working them with the real X pointer and
// keyboard under Xvfb (xdotool, started as a Unix program from here), and
// waiting for what that caused while pumping messages as a host would.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "tests/wine/plugin_fixture.h"

namespace halvorn::wine_tests {

// A control of dialog template 103 as the panel must have it.
struct ExpectedControl {
  int id;  // -1: a label or group box
  const char* window_class;
  const char* caption;
  DWORD style;
  int x, y, width, height;  // dialog units
  const char* inside;       // the enclosing group box's caption; "" for none
};
extern const std::vector<ExpectedControl> kExpectedControls;

// The identifiers of the 18 controls a recording disables.
std::vector<int> SettingControls();

// This process's visible-or-not top-level "HALVORN SDR" frame of the
// plug-in's own window class; null when there is none.
HWND FindPanelFrame();

// Runs a Unix program to its end, pumping this thread's messages meanwhile;
// true when it ran and exited with 0.
bool RunUnixProgram(const std::string& command_line);

// Pumps this thread's messages until `done` holds or `timeout_ms` passed;
// returns `done()`.
bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms);

class PanelTest : public PluginTest {
 protected:
  void SetUp() override;

  HWND Frame() const { return FindPanelFrame(); }
  HWND Dialog() const { return GetWindow(Frame(), GW_CHILD); }
  HWND Control(int id) const { return GetDlgItem(Dialog(), id); }

  bool Checked(int id) const { return SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }
  std::string Text(int id) const;

  // InitHW, OpenHW and SetCallback, as a host starts.
  void OpenReceiver();

  // A real left click with the X pointer on the centre of the control.
  void ClickWithMouse(int id);
  void ClickAt(POINT screen_point, int clicks = 1);
  // Keys through the X server to the window that has the keyboard focus,
  // in xdotool's names ("Tab", "shift+Tab", "Down").
  void PressKeys(const std::string& keys);

  // Journal lines of `entry` written after line `after` of the journal.
  std::vector<testing::JournalLine> CallsSince(size_t after, const std::string& entry) const;
  size_t JournalLength() const { return journal_.Lines().size(); }
  std::vector<int> Statuses() const { return callback_.statuses(); }
};

}  // namespace halvorn::wine_tests

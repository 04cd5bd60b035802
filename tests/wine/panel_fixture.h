// Tests of the control panel through the real DLL: finding the panel's
// windows among this process's, working them with the real X pointer and
// keyboard under Xvfb (xdotool, started as a Unix program from here), and
// waiting for what that caused while pumping messages as a host would.
#pragma once

#include <windows.h>

#include <functional>
#include <string>
#include <vector>

#include "panel/control_ids.h"
#include "tests/support/win32/panel_caught_up.h"
#include "tests/support/win32/pump_until.h"
#include "tests/wine/plugin_fixture.h"

namespace halvorn::wine_tests {

// A control of dialog template 103 as the panel must have it.
struct ExpectedControl {
  int id;  // -1: a label or group box
  const char* window_class;
  const char* caption;
  DWORD style;         // with the group marks, the tab stops and the button kind
  const char* inside;  // the enclosing group box's caption; "" for none
};
extern const std::vector<ExpectedControl> kExpectedControls;

// The identifiers of the 18 controls a recording disables.
std::vector<int> SettingControls();

// This process's visible-or-not top-level "HALVORN SDR" frame of the
// plug-in's own window class; null when there is none.
HWND FindPanelFrame();

// Starts a Unix program (xdotool, import) and returns a file name, empty
// when it could not be started, for UnixProgramFinished.
std::string StartUnixProgram(const std::string& command_line);
// True once the program has finished, with `succeeded` telling whether it
// exited with 0; true and not succeeded when it never started.
bool UnixProgramFinished(const std::string& started, bool* succeeded);
// Runs a Unix program to its end, pumping this thread's messages meanwhile;
// true when it ran and exited with 0.
bool RunUnixProgram(const std::string& command_line);

// xdotool's command line for a left click (or several) at a screen point.
std::string XClickCommand(POINT screen_point, int clicks = 1);
POINT CentreOf(HWND window);

using testing::PumpUntil;

class PanelTest : public PluginTest {
 protected:
  void SetUp() override;
  // Unloads the plug-in first, then removes the recordings directory, if any.
  void TearDown() override;

  HWND Frame() const { return FindPanelFrame(); }
  HWND Dialog() const { return GetWindow(Frame(), GW_CHILD); }
  HWND Control(int id) const { return GetDlgItem(Dialog(), id); }

  bool Checked(int id) const { return SendMessageA(Control(id), BM_GETCHECK, 0, 0) == BST_CHECKED; }
  bool Enabled(int id) const { return IsWindowEnabled(Control(id)) != FALSE; }
  std::string Text(int id) const;

  // InitHW, OpenHW and SetCallback, as a host starts.
  void OpenReceiver();
  // Recordings go to a fresh directory of this test's (the current
  // directory, as for a host); returns its path with a trailing backslash.
  std::string RecordIntoTemporaryDirectory();
  // The RIFF and data size fields of a recording and its length in bytes.
  struct RecordingSizes {
    DWORD riff_size = 0;
    DWORD data_size = 0;
    DWORD file_bytes = 0;
  };
  static RecordingSizes ReadRecordingSizes(const std::string& path);
  // Runs `test` (a disabled one, run only this way) in a child process of
  // this program: its exit code, or 0 when it did not end within a minute
  // and was ended.
  static DWORD RunTestInChildProcess(const std::string& test);

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

 private:
  std::string recordings_;
  std::string previous_directory_;
};

}  // namespace halvorn::wine_tests

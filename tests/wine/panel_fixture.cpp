#include "tests/wine/panel_fixture.h"

#include <algorithm>
#include <cstdio>

#include "panel/control_ids.h"
#include "tests/support/panel_controls.h"

namespace halvorn::wine_tests {
namespace {

BOOL CALLBACK CollectFrame(HWND window, LPARAM found_pointer) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  if (process != GetCurrentProcessId()) return TRUE;
  char title[32] = {};
  char class_name[96] = {};
  GetWindowTextA(window, title, sizeof title);
  GetClassNameA(window, class_name, sizeof class_name);
  if (std::string(title) != "HALVORN SDR" || std::string(class_name).rfind("Halvorn:", 0) != 0) return TRUE;
  *reinterpret_cast<HWND*>(found_pointer) = window;
  return FALSE;
}

// Xvfb runs no window manager, and Wine's managed top-level windows then
// lose their place on the X screen once minimised and hidden (the panel's
// state at load): a restored panel sits somewhere else in X than in Windows,
// so real clicks miss it, and every hide waits two seconds for a manager that
// never answers. Unmanaged windows, which Wine places itself, behave as on a
// desktop with a manager. This is a per-program default of this test program,
// read when its first window is made, so it is set before any test runs.
class UnmanagedTopLevelWindows : public ::testing::Environment {
 public:
  void SetUp() override {
    char program[MAX_PATH] = {};
    GetModuleFileNameA(nullptr, program, MAX_PATH);
    const std::string name = std::string(program).substr(std::string(program).find_last_of("\\/") + 1);
    const std::string key_name = "Software\\Wine\\AppDefaults\\" + name + "\\X11 Driver";
    HKEY key = nullptr;
    if (RegCreateKeyExA(HKEY_CURRENT_USER, key_name.c_str(), 0, nullptr, 0, KEY_SET_VALUE, nullptr, &key,
                        nullptr) == ERROR_SUCCESS) {
      RegSetValueExA(key, "Managed", 0, REG_SZ, reinterpret_cast<const BYTE*>("N"), 2);
      RegCloseKey(key);
    }
  }
};

[[maybe_unused]] ::testing::Environment* const kUnmanagedWindows =
    ::testing::AddGlobalTestEnvironment(new UnmanagedTopLevelWindows);

constexpr DWORD kShown = WS_CHILD | WS_VISIBLE;
constexpr DWORD kGroupStart = kShown | WS_GROUP | BS_GROUPBOX;  // a group box that starts a control group
constexpr DWORD kGroupBox = kShown | BS_GROUPBOX;
constexpr DWORD kRadio = kShown | BS_AUTORADIOBUTTON;
constexpr DWORD kCheckBox = kShown | WS_TABSTOP | BS_AUTOCHECKBOX;
constexpr DWORD kPushButton = kShown | WS_TABSTOP | BS_PUSHBUTTON;
constexpr DWORD kLabel = kShown | WS_GROUP | SS_LEFT;
constexpr DWORD kField = kShown | WS_GROUP | SS_LEFT | SS_SUNKEN;

}  // namespace

const std::vector<ExpectedControl> kExpectedControls = {
    {-1, "Button", "Attenuator", kGroupStart, ""},
    {panel::kAttenuator0dB, "Button", "0 dB", kRadio, "Attenuator"},
    {panel::kAttenuator0dB + 1, "Button", "10 dB", kRadio, "Attenuator"},
    {panel::kAttenuator0dB + 2, "Button", "20 dB", kRadio, "Attenuator"},
    {panel::kAttenuator30dB, "Button", "30 dB", kRadio, "Attenuator"},
    {-1, "Button", "Front-End", kGroupBox, ""},
    {panel::kAdcPreamp, "Button", "ADC Preamp", kCheckBox, "Front-End"},
    {panel::kAdcDither, "Button", "ADC Dither", kCheckBox, "Front-End"},
    {panel::kClockCalibrate, "Button", "Clk Calib", kPushButton, ""},
    {-1, "Button", "DDC Output Sample Rate", kGroupStart, ""},
    {panel::kStopButton, "Button", "Stop", kPushButton, "Recording (Halvorn Wav Format)"},
    {panel::kRecButton, "Button", "Rec", kPushButton, "Recording (Halvorn Wav Format)"},
    {panel::kFileSizeField, "Static", "", kField, "Recording (Halvorn Wav Format)"},
    {-1, "Static", "File Size", kLabel, "Recording (Halvorn Wav Format)"},
    {panel::kFileNameField, "Static", "", kField, "Recording (Halvorn Wav Format)"},
    {-1, "Static", "File", kLabel, "Recording (Halvorn Wav Format)"},
    {-1, "Static", "MBytes", kLabel, "Recording (Halvorn Wav Format)"},
    {-1, "Static", "Rec Time", kLabel, "Recording (Halvorn Wav Format)"},
    {panel::kRecordingTimeField, "Static", "", kField, "Recording (Halvorn Wav Format)"},
    {-1, "Static", "s", kLabel, "Recording (Halvorn Wav Format)"},
    {panel::kPreselector, "Button", "Preselector", kCheckBox, "Front-End"},
    {-1, "Button", "Recording (Halvorn Wav Format)", kGroupBox, ""},
    {panel::RateButtonFor(0), "Button", "125 kS/s (BW= 120 kHz)", kRadio, "DDC Output Sample Rate"},
    {panel::RateButtonFor(1), "Button", "250 kS/s (BW= 240 kHz)", kRadio, "DDC Output Sample Rate"},
    {panel::RateButtonFor(2), "Button", "500 kS/s (BW= 450 kHz)", kRadio, "DDC Output Sample Rate"},
    {panel::RateButtonFor(3), "Button", "1 MS/s    (BW= 800 kHz)", kRadio, "DDC Output Sample Rate"},
    {panel::RateButtonFor(4), "Button", "2 MS/s    (BW= 1600 kHz)", kRadio, "DDC Output Sample Rate"},
    {panel::RateButtonFor(5), "Button", "2/21 MS/s    (BW= 88 kHz)", kRadio, "DDC Output Sample Rate"},
    {panel::RateButtonFor(6), "Button", "48 kS/s   (BW= 44 kHz)", kRadio, "DDC Output Sample Rate"},
    {panel::RateButtonFor(7), "Button", "96 kS/s   (BW= 88 kHz)", kRadio, "DDC Output Sample Rate"},
    {panel::RateButtonFor(8), "Button", "192 kS/s (BW= 176 kHz)", kRadio, "DDC Output Sample Rate"},
};

std::vector<int> SettingControls() {
  std::vector<int> ids = testing::ReceiverSettingControls();
  ids.push_back(panel::kRecButton);
  return ids;
}

HWND FindPanelFrame() {
  // Whatever was asked of the panel so far is done first, if it has a thread.
  testing::PanelCaughtUp(0);
  HWND found = nullptr;
  EnumWindows(&CollectFrame, reinterpret_cast<LPARAM>(&found));
  return found;
}

std::string StartUnixProgram(const std::string& command_line) {
  // Wine starts a Unix program without giving back process handles: what it
  // leaves in PROCESS_INFORMATION must be neither waited on nor closed (a
  // close hits whatever handle has that number, this program's standard
  // output for one). So the program is run by a shell that leaves its exit
  // status in a file of its own once it has finished.
  static int runs = 0;
  const std::string marker = "/tmp/halvorn-panel-test-" + std::to_string(GetCurrentProcessId()) + "-" +
                             std::to_string(++runs);
  std::string marker_on_windows = "Z:" + marker;
  std::replace(marker_on_windows.begin(), marker_on_windows.end(), '/', '\\');
  DeleteFileA(marker_on_windows.c_str());
  std::string line = "/bin/sh -c \"" + command_line + "; echo $? > " + marker + ".part && mv " + marker +
                     ".part " + marker + "\"";
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION process{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &process)) {
    return "";
  }
  return marker_on_windows;
}

bool UnixProgramFinished(const std::string& marker, bool* succeeded) {
  if (marker.empty()) {
    *succeeded = false;
    return true;
  }
  const HANDLE file = CreateFileA(marker.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_DELETE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return false;
  char status[16] = {};
  DWORD read = 0;
  ReadFile(file, status, sizeof status - 1, &read, nullptr);
  CloseHandle(file);
  DeleteFileA(marker.c_str());
  *succeeded = status[0] == '0';
  return true;
}

bool RunUnixProgram(const std::string& command_line) {
  const std::string marker = StartUnixProgram(command_line);
  bool succeeded = false;
  return PumpUntil([&] { return UnixProgramFinished(marker, &succeeded); }, 30000) && succeeded;
}

std::string XClickCommand(POINT point, int clicks) {
  // No --sync on the move: xdotool then waits many seconds when the pointer
  // is already there. Its own X requests keep the move before the click.
  char command[160];
  std::snprintf(command, sizeof command, "/usr/bin/xdotool mousemove %ld %ld click --repeat %d 1",
                static_cast<long>(point.x), static_cast<long>(point.y), clicks);
  return command;
}

POINT CentreOf(HWND window) {
  RECT rect{};
  GetWindowRect(window, &rect);
  return {(rect.left + rect.right) / 2, (rect.top + rect.bottom) / 2};
}

void PanelTest::SetUp() {
  PluginTest::SetUp();
  ASSERT_EQ(Frame(), nullptr) << "a panel was made while the module loaded";
  // The panel is made, on the plug-in's window thread, when the host first shows it.
  plugin_->ShowGUI();
  plugin_->HideGUI();
  ASSERT_TRUE(testing::PanelCaughtUp()) << "no window thread";
  ASSERT_NE(Frame(), nullptr) << "ShowGUI made no panel";
}

void PanelTest::TearDown() {
  PluginTest::TearDown();
  if (recordings_.empty()) return;
  SetCurrentDirectoryA(previous_directory_.c_str());
  WIN32_FIND_DATAA found{};
  const HANDLE search = FindFirstFileA((recordings_ + "*").c_str(), &found);
  if (search != INVALID_HANDLE_VALUE) {
    do {
      DeleteFileA((recordings_ + found.cFileName).c_str());
    } while (FindNextFileA(search, &found));
    FindClose(search);
  }
  RemoveDirectoryA(recordings_.c_str());
}

std::string PanelTest::RecordIntoTemporaryDirectory() {
  char temp[MAX_PATH];
  GetTempPathA(MAX_PATH, temp);
  char current[MAX_PATH];
  GetCurrentDirectoryA(MAX_PATH, current);
  previous_directory_ = current;
  const auto* info = ::testing::UnitTest::GetInstance()->current_test_info();
  recordings_ = std::string(temp) + "halvorn-" + info->name() + "\\";
  CreateDirectoryA(recordings_.c_str(), nullptr);
  EXPECT_TRUE(SetCurrentDirectoryA(recordings_.c_str())) << recordings_;
  return recordings_;
}

PanelTest::RecordingSizes PanelTest::ReadRecordingSizes(const std::string& path) {
  RecordingSizes sizes;
  const HANDLE file = CreateFileA(path.c_str(), GENERIC_READ, FILE_SHARE_READ | FILE_SHARE_WRITE, nullptr,
                                  OPEN_EXISTING, 0, nullptr);
  if (file == INVALID_HANDLE_VALUE) return sizes;
  BYTE header[90] = {};
  DWORD read = 0;
  ReadFile(file, header, sizeof header, &read, nullptr);
  sizes.file_bytes = GetFileSize(file, nullptr);
  CloseHandle(file);
  const auto field = [&](int at) {
    return static_cast<DWORD>(header[at] | header[at + 1] << 8 | header[at + 2] << 16 | header[at + 3] << 24);
  };
  sizes.riff_size = field(4);
  sizes.data_size = field(86);
  return sizes;
}

DWORD PanelTest::RunTestInChildProcess(const std::string& test) {
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  std::string line = std::string("\"") + program + "\" --gtest_also_run_disabled_tests --gtest_filter=" + test;
  STARTUPINFOA startup{};
  startup.cb = sizeof startup;
  PROCESS_INFORMATION child{};
  if (!CreateProcessA(nullptr, line.data(), nullptr, nullptr, FALSE, 0, nullptr, nullptr, &startup, &child)) return 0;
  DWORD exit_code = 0;
  if (WaitForSingleObject(child.hProcess, 60000) == WAIT_OBJECT_0) {
    GetExitCodeProcess(child.hProcess, &exit_code);
  } else {
    TerminateProcess(child.hProcess, 1);
  }
  CloseHandle(child.hThread);
  CloseHandle(child.hProcess);
  return exit_code;
}

std::string PanelTest::Text(int id) const {
  char text[256] = {};
  GetWindowTextA(Control(id), text, sizeof text);
  return text;
}

void PanelTest::OpenReceiver() {
  ASSERT_TRUE(Init());
  ASSERT_TRUE(plugin_->OpenHW());
  plugin_->SetCallback(&testing::CountingHost::Callback);
  host::PumpMessagesFor(50);
}

void PanelTest::ClickWithMouse(int id) {
  const HWND control = Control(id);
  ASSERT_NE(control, nullptr) << id;
  ASSERT_TRUE(IsWindowVisible(control) && IsWindowEnabled(control)) << "no user can click " << id;
  ClickAt(CentreOf(control));
}

void PanelTest::ClickAt(POINT point, int clicks) {
  const std::string command = XClickCommand(point, clicks);
  ASSERT_TRUE(RunUnixProgram(command)) << command;
  // The click reaches this thread as input; let it arrive and be handled.
  host::PumpMessagesFor(150);
}

void PanelTest::PressKeys(const std::string& keys) {
  const std::string command = "/usr/bin/xdotool key " + keys;
  ASSERT_TRUE(RunUnixProgram(command)) << command;
  host::PumpMessagesFor(150);
}

std::vector<testing::JournalLine> PanelTest::CallsSince(size_t after, const std::string& entry) const {
  std::vector<testing::JournalLine> calls;
  const auto lines = journal_.Lines();
  for (size_t i = after; i < lines.size(); ++i) {
    if (lines[i].entry == entry) calls.push_back(lines[i]);
  }
  return calls;
}

}  // namespace halvorn::wine_tests

// Hosts that load, drive and unload the plug-in from whatever thread, in
// whatever order, with callbacks and message loops that get in the way: each
// scenario is one run of such a host, in a process of its own, so a fault in
// the module ends only that run. The parent runs a scenario many times, each
// under a watchdog, and fails on the first run that faults, hangs or finds
// something wrong.
//
//   host_scenarios.exe [--repeat N] SCENARIO
#include <windows.h>

#include <algorithm>
#include <atomic>
#include <cstdio>
#include <cstdlib>
#include <cstring>
#include <functional>
#include <map>
#include <memory>
#include <string>
#include <thread>

#include "host/extio_plugin.h"
#include "host/halvorn_panel.h"
#include "host/message_box_watcher.h"
#include "panel/control_ids.h"
#include "tests/support/journal.h"

namespace halvorn::scenarios {
namespace {

using host::ExtIoPlugin;

constexpr DWORD kRunLimitMs = 60000;
constexpr int kLo = 7050000;

int Fail(const char* what) {
  std::fprintf(stderr, "scenario failed: %s\n", what);
  return 1;
}

std::string BuildDirectory() { return host::ProgramDirectory() + "..\\"; }

std::string TempPath(const char* name) {
  char temp[MAX_PATH] = {};
  GetTempPathA(MAX_PATH, temp);
  return std::string(temp) + name + "-" + std::to_string(GetCurrentProcessId());
}

std::unique_ptr<ExtIoPlugin> LoadPlugin() {
  std::string error;
  auto plugin = ExtIoPlugin::Load(BuildDirectory() + "ExtIO_halvorn.dll", &error);
  if (!plugin) std::fprintf(stderr, "%s\n", error.c_str());
  return plugin;
}

bool Init(ExtIoPlugin& plugin) {
  char name[64] = {};
  char model[64] = {};
  int type = 0;
  return plugin.InitHW(name, model, &type);
}

// Blocks the host saw; the callback itself is the scenario's.
std::atomic<int> g_blocks{0};
void __cdecl CountBlocks(int count, int, float, void*) {
  if (count > 0) ++g_blocks;
}

bool WaitFor(const std::function<bool()>& done, DWORD timeout_ms, bool pump = true) {
  const DWORD started = GetTickCount();
  while (!done()) {
    if (GetTickCount() - started > timeout_ms) return false;
    if (pump) {
      host::PumpMessagesFor(5);
    } else {
      Sleep(5);
    }
  }
  return true;
}

// A window of the host's own, as its main window would be.
HWND HostWindow() {
  static const ATOM window_class = [] {
    WNDCLASSA description{};
    description.lpfnWndProc = &DefWindowProcA;
    description.hInstance = GetModuleHandleA(nullptr);
    description.lpszClassName = "HostScenarioWindow";
    return RegisterClassA(&description);
  }();
  return window_class != 0 ? CreateWindowExA(0, "HostScenarioWindow", "host", WS_OVERLAPPEDWINDOW, 0, 0, 300, 200,
                                             nullptr, nullptr, GetModuleHandleA(nullptr), nullptr)
                           : nullptr;
}

// ---- 1: loads and pumps on one thread, drives from a second, unloads on a third.
int UnloadFromAThirdThread() {
  auto plugin = LoadPlugin();
  if (!plugin) return Fail("load");
  std::atomic<bool> driven{false}, stop_pumping{false};
  bool ok = true;
  std::thread driver([&] {
    ok = Init(*plugin) && plugin->OpenHW();
    plugin->SetCallback(&CountBlocks);
    plugin->ShowGUI();
    ok = ok && plugin->StartHW(kLo) == 1024;
    driven = true;
    // The panel's windows are this thread's: it pumps them as a host would.
    while (!stop_pumping) host::PumpMessagesFor(5);
  });
  if (!WaitFor([&] { return driven.load() && g_blocks > 20; }, 20000)) return Fail("no blocks");
  std::thread unloader([&] { plugin->Unload(); });
  // The loading thread pumps throughout.
  WaitFor([] { return false; }, 300);
  unloader.join();
  WaitFor([] { return false; }, 1500);
  stop_pumping = true;
  driver.join();
  return ok ? 0 : Fail("the session did not start");
}

// ---- 2: the device does not take the stop, and the host unloads without CloseHW.
int UnloadAfterARefusedStop(const char* refused) {
  SetEnvironmentVariableA("HALVORNSIM_FAIL", refused);
  auto plugin = LoadPlugin();
  if (!plugin) return Fail("load");
  if (!Init(*plugin) || !plugin->OpenHW()) return Fail("open");
  plugin->SetCallback(&CountBlocks);
  if (plugin->StartHW(kLo) != 1024) return Fail("start");
  if (!WaitFor([] { return g_blocks > 20; }, 20000)) return Fail("no blocks");
  plugin->StopHW();
  plugin->Unload();
  // The device's input thread goes on calling back for a while.
  WaitFor([] { return false; }, 1000);
  return 0;
}

// ---- 3: the host's callback hands each block to the thread that unloads.
HWND g_ui_window = nullptr;
void __cdecl SendToUi(int count, int, float, void*) {
  if (count > 0) {
    ++g_blocks;
    SendMessageA(g_ui_window, WM_NULL, 0, 0);
  }
}

int ACallbackThatWaitsOnTheUnloadingThread() {
  g_ui_window = HostWindow();
  if (g_ui_window == nullptr) return Fail("host window");
  auto plugin = LoadPlugin();
  if (!plugin) return Fail("load");
  if (!Init(*plugin) || !plugin->OpenHW()) return Fail("open");
  plugin->SetCallback(&SendToUi);
  if (plugin->StartHW(kLo) != 1024) return Fail("start");
  if (!WaitFor([] { return g_blocks > 20; }, 20000)) return Fail("no blocks");
  plugin->Unload();  // without StopHW
  WaitFor([] { return false; }, 1000);
  DestroyWindow(g_ui_window);
  return 0;
}

// ---- 4: a message box is open while the host goes.
// Same thread: the box keeps the host's windows from input, so the user
// cannot close the host from inside it.
int AMessageBoxKeepsTheHostFromClosingUnderIt() {
  const HWND host_window = HostWindow();
  ShowWindow(host_window, SW_SHOW);
  SetEnvironmentVariableA("HALVORNSIM_FAIL", "FpgaConfig");
  auto plugin = LoadPlugin();
  if (!plugin || !Init(*plugin)) return Fail("load");
  std::atomic<int> disabled_seen{-1};
  std::atomic<bool> opened{false};
  std::thread watcher([&] {
    // While the box is up: is the host's window taking input?
    if (!WaitFor([] { return FindWindowA("#32770", "Halvorn DLL for Winrad") != nullptr; }, 20000, false)) return;
    disabled_seen = IsWindowEnabled(host_window) ? 0 : 1;
    PostMessageA(FindWindowA("#32770", "Halvorn DLL for Winrad"), WM_COMMAND, IDOK, 0);
  });
  opened = plugin->OpenHW();
  watcher.join();
  if (disabled_seen != 1) return Fail("the host's window took input while the message was open");
  if (!IsWindowEnabled(host_window)) return Fail("the host's window stayed disabled");
  plugin->Unload();
  DestroyWindow(host_window);
  return opened ? 0 : Fail("OpenHW");
}

// Another thread: the host unloads while a message of the plug-in is open on
// a thread that is inside an entry point. The module stays until the user
// has closed the message and the entry point has returned.
int AnUnloadWhileAMessageIsOpenOnAnotherThread() {
  SetEnvironmentVariableA("HALVORNSIM_FAIL", "FpgaConfig");
  auto plugin = LoadPlugin();
  if (!plugin || !Init(*plugin)) return Fail("load");
  std::atomic<bool> returned{false};
  std::thread opener([&] {
    plugin->OpenHW();
    returned = true;
  });
  if (!WaitFor([] { return FindWindowA("#32770", "Halvorn DLL for Winrad") != nullptr; }, 20000)) {
    return Fail("no message");
  }
  plugin->Unload();
  if (returned) return Fail("OpenHW returned with its message still open");
  if (GetModuleHandleA("ExtIO_halvorn.dll") == nullptr) return Fail("the module went under the open message");
  PostMessageA(FindWindowA("#32770", "Halvorn DLL for Winrad"), WM_COMMAND, IDOK, 0);  // the user closes it
  opener.join();
  if (!returned) return Fail("OpenHW never returned");
  // The panel's thread, which showed the message, may still be finishing.
  return WaitFor([] { return GetModuleHandleA("ExtIO_halvorn.dll") == nullptr; }, 5000, false)
             ? 0
             : Fail("the module stayed after the last call");
}

// ---- 5: the thread that owns the panel waits for a worker without pumping.
int EntryPointsFromAWorkerTheWindowThreadWaitsFor() {
  auto plugin = LoadPlugin();
  if (!plugin || !Init(*plugin) || !plugin->OpenHW()) return Fail("open");  // the panel is this thread's
  plugin->SetCallback(&CountBlocks);
  std::thread worker([&] {
    plugin->ShowGUI();
    plugin->OpenHW();
    plugin->StartHW(kLo);
    plugin->SetHWLO(7100000);
    plugin->HideGUI();
    plugin->StopHW();
    plugin->ShowGUI();
  });
  worker.join();  // no messages pumped meanwhile
  WaitFor([] { return false; }, 500);
  plugin->Unload();
  return 0;
}

// ---- 6: a restart while the last delivery thread is still in the callback.
std::atomic<int> g_inside{0}, g_most_inside{0};
std::atomic<bool> g_hold_first{true};
void __cdecl HoldTheFirstBlock(int count, int, float, void*) {
  if (count <= 0) return;
  const int inside = ++g_inside;
  int most = g_most_inside;
  while (inside > most && !g_most_inside.compare_exchange_weak(most, inside)) {
  }
  if (g_hold_first.exchange(false)) Sleep(3000);
  ++g_blocks;
  --g_inside;
}

int ARestartWhileTheLastThreadIsInTheCallback() {
  auto plugin = LoadPlugin();
  if (!plugin || !Init(*plugin) || !plugin->OpenHW()) return Fail("open");
  plugin->SetCallback(&HoldTheFirstBlock);
  if (plugin->StartHW(kLo) != 1024) return Fail("start");
  if (!WaitFor([] { return g_inside > 0; }, 20000)) return Fail("no block");
  plugin->StopHW();  // gives up on the held thread after a while
  const int restarted = plugin->StartHW(kLo);
  if (restarted != -1) plugin->StopHW();
  if (!WaitFor([] { return g_blocks > 0; }, 20000)) return Fail("the held block never returned");
  // Once the held thread has left the callback, the stream starts again.
  if (!WaitFor([&] { return plugin->StartHW(kLo) == 1024; }, 5000)) return Fail("no restart after the callback");
  if (!WaitFor([] { return g_blocks > 20; }, 20000)) return Fail("no blocks after the restart");
  plugin->StopHW();
  plugin->Unload();
  if (g_most_inside != 1) return Fail("two threads were in the callback at once");
  return restarted == -1 ? 0 : Fail("StartHW started while the last thread was in the callback");
}

// ---- 7: a thread reads windows while another loads the plug-in.
BOOL CALLBACK ReadWindow(HWND window, LPARAM) {
  char text[64];
  GetWindowTextA(window, text, sizeof text);
  return TRUE;
}

int LoadingWhileAnotherThreadReadsWindows() {
  for (int lead_ms = 0; lead_ms <= 14; lead_ms += 2) {
    std::atomic<bool> stop{false};
    std::thread reader([&] {
      while (!stop) EnumWindows(&ReadWindow, 0);
    });
    Sleep(static_cast<DWORD>(lead_ms));
    auto plugin = LoadPlugin();
    stop = true;
    reader.join();
    if (!plugin) return Fail("load");
    if (FindWindowA(nullptr, "HALVORN SDR") != nullptr) return Fail("a window was made while loading");
  }
  return 0;
}

// ---- 9: what the plug-in leaves once FreeLibrary has returned, and its panel meanwhile.

BOOL CALLBACK CountPluginWindow(HWND window, LPARAM count) {
  DWORD process = 0;
  GetWindowThreadProcessId(window, &process);
  char class_name[32] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  if (process == GetCurrentProcessId() && std::strncmp(class_name, "Halvorn", 7) == 0) ++*reinterpret_cast<int*>(count);
  return TRUE;
}

// The plug-in's windows in this process, top-level and message-only.
int PluginWindows() {
  int count = 0;
  EnumWindows(&CountPluginWindow, reinterpret_cast<LPARAM>(&count));
  for (HWND window = FindWindowExA(HWND_MESSAGE, nullptr, nullptr, nullptr); window != nullptr;
       window = FindWindowExA(HWND_MESSAGE, window, nullptr, nullptr)) {
    CountPluginWindow(window, reinterpret_cast<LPARAM>(&count));
  }
  return count;
}

// Once FreeLibrary has returned: the module goes (at once, or as soon as the
// panel's thread has finished what it was doing), its panel's thread ends,
// nothing of it is left, and the receiver is closed and its library released.
int ExpectNothingLeft(DWORD panel_thread_id, const char* after) {
  if (!WaitFor([] { return GetModuleHandleA("ExtIO_halvorn.dll") == nullptr; }, 5000, false)) return Fail(after);
  if (panel_thread_id != 0) {
    if (const HANDLE thread = OpenThread(SYNCHRONIZE, FALSE, panel_thread_id)) {
      const bool ended = WaitForSingleObject(thread, 5000) == WAIT_OBJECT_0;
      CloseHandle(thread);
      if (!ended) return Fail("the panel's thread stayed after the unload");
    }
  }
  if (PluginWindows() != 0) return Fail("a window of the plug-in stayed after the unload");
  if (!WaitFor([] { return GetModuleHandleA("halvornusb.dll") == nullptr; }, 10000, false)) {
    return Fail("the receiver's library stayed after the unload");
  }
  return 0;
}

// The panel's thread, found by its frame; 0 without a panel.
DWORD PanelThreadOf(ExtIoPlugin& plugin) {
  const auto panel = host::HalvornPanel::Await(plugin.module(), 5000);
  return panel ? GetWindowThreadProcessId(panel->frame(), nullptr) : 0;
}

// A click on a rate button, asked of the panel's thread without waiting for
// it, as the user's would be: the panel must take it whatever the host's
// threads do.
std::atomic<int> g_rate_changes{0};
void __cdecl CountRateChanges(int count, int status, float, void*) {
  if (count > 0) ++g_blocks;
  if (count == -1 && status == 100) ++g_rate_changes;
}

int ClickRateAndSeeItTaken(ExtIoPlugin& plugin, bool pump) {
  const auto panel = host::HalvornPanel::Await(plugin.module(), 5000);
  if (!panel) return Fail("no panel");
  const int rate_before = plugin.GetHWSR();
  const int changes_before = g_rate_changes;
  PostMessageA(panel->Control(panel::RateButtonFor(3)), BM_CLICK, 0, 0);
  if (!WaitFor([&] { return g_rate_changes > changes_before && plugin.GetHWSR() == 1000000; }, 3000, pump)) {
    return Fail("the panel did not take a click within 3 s");
  }
  return rate_before != 1000000 ? 0 : Fail("the rate was already the clicked one");
}

// The host opens the receiver on a worker that then waits without pumping;
// the loading thread does not pump either.
int APanelShownFromAThreadThatNeverPumpsAnswers() {
  auto plugin = LoadPlugin();
  if (!plugin) return Fail("load");
  const HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  std::atomic<bool> opened{false};
  std::thread worker([&] {
    opened = Init(*plugin) && plugin->OpenHW();
    plugin->SetCallback(&CountRateChanges);
    plugin->ShowGUI();
    WaitForSingleObject(release, INFINITE);
  });
  if (!WaitFor([&] { return opened.load(); }, 20000, false)) return Fail("open");
  const DWORD panel_thread = PanelThreadOf(*plugin);
  if (const int failed = ClickRateAndSeeItTaken(*plugin, false)) return failed;
  plugin->Unload();
  SetEvent(release);
  worker.join();
  return ExpectNothingLeft(panel_thread, "the module stayed");
}

// The panel is first shown on a thread that has ended since.
int APanelShownFromAThreadThatEndedAnswers() {
  auto plugin = LoadPlugin();
  if (!plugin) return Fail("load");
  bool opened = false;
  std::thread worker([&] {
    opened = Init(*plugin) && plugin->OpenHW();
    plugin->SetCallback(&CountRateChanges);
    plugin->ShowGUI();
  });
  worker.join();
  if (!opened) return Fail("open");
  const DWORD panel_thread = PanelThreadOf(*plugin);
  if (const int failed = ClickRateAndSeeItTaken(*plugin, true)) return failed;
  plugin->Unload();
  return ExpectNothingLeft(panel_thread, "the module stayed");
}

// A host GUI thread that showed the panel and streams pumps on after another
// thread unloaded the plug-in: nothing of the plug-in's reaches it, ever
// (a host that then unloads its own code would be called into freed code).
std::atomic<DWORD> g_gui_thread{0};
std::atomic<int> g_foreign_messages{0};
LRESULT CALLBACK StrictHostWindow(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  return DefWindowProcA(window, message, wparam, lparam);
}

int AGuiThreadThatPumpsOnAfterTheUnloadGetsNothingOfThePlugin() {
  auto plugin = LoadPlugin();
  if (!plugin) return Fail("load");
  std::atomic<bool> streaming{false}, unloaded{false}, stop{false};
  std::thread gui([&] {
    WNDCLASSA description{};
    description.lpfnWndProc = &StrictHostWindow;
    description.hInstance = GetModuleHandleA(nullptr);
    description.lpszClassName = "StrictHostWindow";
    RegisterClassA(&description);
    const HWND own = CreateWindowExA(0, "StrictHostWindow", "host", WS_OVERLAPPEDWINDOW | WS_VISIBLE, 0, 0, 300, 200,
                                     nullptr, nullptr, GetModuleHandleA(nullptr), nullptr);
    g_gui_thread = GetCurrentThreadId();
    if (Init(*plugin) && plugin->OpenHW()) {
      plugin->SetCallback(&CountRateChanges);
      plugin->ShowGUI();
      streaming = plugin->StartHW(kLo) == 1024;
    }
    MSG message;
    while (!stop) {
      while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
        // After the unload, anything not for this thread's own window is the plug-in's.
        if (unloaded && message.hwnd != own) ++g_foreign_messages;
        TranslateMessage(&message);
        DispatchMessageA(&message);
      }
      MsgWaitForMultipleObjects(0, nullptr, FALSE, 10, QS_ALLINPUT);
    }
    DestroyWindow(own);
  });
  if (!WaitFor([&] { return streaming.load() && g_blocks > 20; }, 20000, false)) return Fail("no blocks");
  const DWORD panel_thread = PanelThreadOf(*plugin);
  if (panel_thread == 0 || panel_thread == g_gui_thread) return Fail("the panel is not the plug-in's own");
  if (const int failed = ClickRateAndSeeItTaken(*plugin, false)) return failed;
  plugin->Unload();
  unloaded = true;
  WaitFor([] { return false; }, 3000, false);
  stop = true;
  gui.join();
  if (g_foreign_messages != 0) return Fail("the host's GUI thread got messages of the plug-in after the unload");
  return ExpectNothingLeft(panel_thread, "the module stayed");
}

// Panel calls from two threads take effect in the order they were made.
int TheLastPanelCallWinsWhateverThreadMadeIt() {
  auto plugin = LoadPlugin();
  if (!plugin || !Init(*plugin)) return Fail("load");
  plugin->ShowGUI();
  std::thread worker([&] {
    for (int i = 0; i < 400; ++i) {
      plugin->ShowGUI();
      plugin->HideGUI();
    }
  });
  worker.join();
  plugin->ShowGUI();
  const auto panel = host::HalvornPanel::Await(plugin->module(), 5000);
  if (!panel) return Fail("no panel");
  const auto shown = [&] { return IsWindowVisible(panel->frame()) && !IsIconic(panel->frame()); };
  if (!WaitFor(shown, 5000)) return Fail("the panel did not end shown");
  WaitFor([] { return false; }, 200);
  if (!shown()) return Fail("the panel was minimised after the last call, which showed it");
  const DWORD panel_thread = GetWindowThreadProcessId(panel->frame(), nullptr);
  plugin->Unload();
  return ExpectNothingLeft(panel_thread, "the module stayed");
}

// Unloads that find the receiver streaming, stopped or closed, from the
// loading thread or another, with a device library that waits for its own
// input thread in its stop: each returns, and the receiver ends closed.
enum class Before { kNothing, kStopHW, kCloseHW };
int AnUnloadFindingTheReceiver(Before before, bool from_another_thread) {
  const std::string journal = TempPath("halvorn-scenario-journal");
  DeleteFileA(journal.c_str());
  SetEnvironmentVariableA("HALVORNSIM_JOURNAL", journal.c_str());
  auto plugin = LoadPlugin();
  if (!plugin || !Init(*plugin) || !plugin->OpenHW()) return Fail("open");
  plugin->SetCallback(&CountBlocks);
  if (plugin->StartHW(kLo) != 1024) return Fail("start");
  if (!WaitFor([] { return g_blocks > 10; }, 20000)) return Fail("no blocks");
  const DWORD panel_thread = PanelThreadOf(*plugin);
  if (before != Before::kNothing) plugin->StopHW();
  if (before == Before::kCloseHW) plugin->CloseHW();
  if (from_another_thread) {
    std::thread unloader([&] { plugin->Unload(); });
    unloader.join();
  } else {
    plugin->Unload();
  }
  if (const int failed = ExpectNothingLeft(panel_thread, "the module stayed")) return failed;
  const int blocks = g_blocks;
  WaitFor([] { return false; }, 200, false);
  if (g_blocks != blocks) return Fail("blocks came after the module had gone");
  const auto entries = testing::Journal(journal).Entries();
  DeleteFileA(journal.c_str());
  const auto stops = std::count(entries.begin(), entries.end(), "StopAsyncInput");
  const auto closes = std::count(entries.begin(), entries.end(), "Close");
  if (stops != 1 || closes != 1) return Fail("the receiver's input was not stopped once and the receiver closed once");
  return entries.back() == "Close" ? 0 : Fail("the receiver was left open");
}

const std::map<std::string, std::function<int()>>& Scenarios() {
  static const std::map<std::string, std::function<int()>> scenarios = {
      {"unload-from-a-third-thread", UnloadFromAThirdThread},
      {"unload-after-a-refused-stop", [] { return UnloadAfterARefusedStop("StopAsyncInput"); }},
      {"unload-after-a-refused-stop-and-close", [] { return UnloadAfterARefusedStop("StopAsyncInput,Close"); }},
      {"a-callback-that-waits-on-the-unloading-thread", ACallbackThatWaitsOnTheUnloadingThread},
      {"a-message-box-keeps-the-host-from-closing-under-it", AMessageBoxKeepsTheHostFromClosingUnderIt},
      {"an-unload-while-a-message-is-open-on-another-thread", AnUnloadWhileAMessageIsOpenOnAnotherThread},
      {"entry-points-from-a-worker-the-window-thread-waits-for", EntryPointsFromAWorkerTheWindowThreadWaitsFor},
      {"a-restart-while-the-last-thread-is-in-the-callback", ARestartWhileTheLastThreadIsInTheCallback},
      {"loading-while-another-thread-reads-windows", LoadingWhileAnotherThreadReadsWindows},
      {"a-panel-shown-from-a-thread-that-never-pumps-answers", APanelShownFromAThreadThatNeverPumpsAnswers},
      {"a-panel-shown-from-a-thread-that-ended-answers", APanelShownFromAThreadThatEndedAnswers},
      {"a-gui-thread-that-pumps-on-after-the-unload-gets-nothing-of-the-plugin",
       AGuiThreadThatPumpsOnAfterTheUnloadGetsNothingOfThePlugin},
      {"the-last-panel-call-wins-whatever-thread-made-it", TheLastPanelCallWinsWhateverThreadMadeIt},
      {"an-unload-while-streaming", [] { return AnUnloadFindingTheReceiver(Before::kNothing, false); }},
      {"an-unload-while-streaming-from-another-thread",
       [] { return AnUnloadFindingTheReceiver(Before::kNothing, true); }},
      {"an-unload-after-stophw", [] { return AnUnloadFindingTheReceiver(Before::kStopHW, true); }},
      {"an-unload-after-closehw", [] { return AnUnloadFindingTheReceiver(Before::kCloseHW, false); }},
  };
  return scenarios;
}

// Runs the scenario `times` times, each in a child process under a watchdog.
int RunRepeatedly(const std::string& scenario, int times) {
  char program[MAX_PATH] = {};
  GetModuleFileNameA(nullptr, program, MAX_PATH);
  for (int run = 1; run <= times; ++run) {
    std::string command = "\"" + std::string(program) + "\" " + scenario;
    STARTUPINFOA startup{};
    startup.cb = sizeof startup;
    PROCESS_INFORMATION process{};
    if (!CreateProcessA(nullptr, command.data(), nullptr, nullptr, TRUE, 0, nullptr, nullptr, &startup, &process)) {
      std::fprintf(stderr, "cannot start %s\n", command.c_str());
      return 2;
    }
    const DWORD waited = WaitForSingleObject(process.hProcess, kRunLimitMs);
    DWORD exit_code = 0;
    if (waited != WAIT_OBJECT_0) {
      TerminateProcess(process.hProcess, 99);
      std::fprintf(stderr, "run %d of %s hung (no end within %lu s)\n", run, scenario.c_str(), kRunLimitMs / 1000);
      return 1;
    }
    GetExitCodeProcess(process.hProcess, &exit_code);
    CloseHandle(process.hThread);
    CloseHandle(process.hProcess);
    if (exit_code != 0) {
      std::fprintf(stderr, "run %d of %s ended with 0x%08lX%s\n", run, scenario.c_str(), exit_code,
                   exit_code >= 0xC0000000u ? " (a fault)" : "");
      return 1;
    }
  }
  std::printf("%s: %d runs, no fault, no hang\n", scenario.c_str(), times);
  return 0;
}

}  // namespace
}  // namespace halvorn::scenarios

int main(int argc, char** argv) {
  using namespace halvorn::scenarios;
  int times = 0;
  int at = 1;
  if (argc > 2 && std::strcmp(argv[1], "--repeat") == 0) {
    times = std::atoi(argv[2]);
    at = 3;
  }
  if (at >= argc || Scenarios().count(argv[at]) == 0) {
    std::fprintf(stderr, "usage: host_scenarios [--repeat N] SCENARIO\nscenarios:\n");
    for (const auto& [name, run] : Scenarios()) std::fprintf(stderr, "  %s\n", name.c_str());
    return 2;
  }
  // A fault must end the run, not wait for a debugger or a dialog.
  SetErrorMode(SEM_FAILCRITICALERRORS | SEM_NOGPFAULTERRORBOX);
  if (times > 0) return RunRepeatedly(argv[at], times);
  return Scenarios().at(argv[at])();
}

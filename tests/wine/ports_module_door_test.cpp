// The module's door on its own, as 32-bit code under Windows: every entry
// forwards its arguments and result while open, and after Close a late
// arrival is turned away the harmless way, a thread of the module's own
// coming back from the host ending where it stands.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "ports/win32/module_door.h"

namespace halvorn::win {
namespace {

LRESULT CALLBACK EchoWindowProcedure(HWND, UINT message, WPARAM wparam, LPARAM lparam) {
  return static_cast<LRESULT>(message * 1000 + wparam * 10 + lparam);
}

INT_PTR CALLBACK EchoDialogProcedure(HWND, UINT message, WPARAM wparam, LPARAM lparam) {
  return static_cast<INT_PTR>(message + wparam + lparam + 1);
}

std::atomic<int> g_hook_calls{0};
LRESULT CALLBACK CountingHook(int code, WPARAM, LPARAM) {
  ++g_hook_calls;
  return code + 7;
}

std::atomic<int> g_entry_calls{0};
BOOL __stdcall TwoArguments(std::uint8_t* first, void* second) {
  ++g_entry_calls;
  return first != nullptr && second == nullptr ? 2 : 3;
}

struct HostCall {
  std::atomic<int> count{0}, status{0};
  std::atomic<float> iq{0};
  void* data = nullptr;
};
HostCall g_host;
void __cdecl CdeclHost(int count, int status, float iq, void* data) {
  g_host.count = count;
  g_host.status = status;
  g_host.iq = iq;
  g_host.data = data;
}
// A host callback declared the wrong way, taking its arguments off the stack.
void __stdcall StdcallHost(int count, int status, float iq, void* data) { CdeclHost(count, status, iq, data); }

using HostCaller = void(__cdecl*)(void* callback, int count, int status, float iq, void* data);

HostCaller g_call_host = nullptr;
int g_data = 0;
HostCall g_seen[2];

DWORD WINAPI CallTheHostBothWays(LPVOID) {
  const void* callbacks[] = {reinterpret_cast<void*>(&CdeclHost), reinterpret_cast<void*>(&StdcallHost)};
  for (int i = 0; i < 2; ++i) {
    g_host.count = 0;
    g_call_host(const_cast<void*>(callbacks[i]), 1024, 7, 0.5f, &g_data);
    g_seen[i].count = g_host.count.load();
    g_seen[i].status = g_host.status.load();
    g_seen[i].iq = g_host.iq.load();
    g_seen[i].data = g_host.data;
  }
  return 1;
}

TEST(ModuleDoorTest, EachEntryForwardsItsArgumentsAndResultWhileOpen) {
  const auto door = ModuleDoor::Open();
  ASSERT_NE(door, nullptr);
  EXPECT_EQ(door->WindowProcedure(&EchoWindowProcedure)(nullptr, 3, 4, 5), 3045);
  EXPECT_EQ(door->DialogProcedure(&EchoDialogProcedure)(nullptr, 3, 4, 5), 13);
  g_hook_calls = 0;
  EXPECT_EQ(door->MessageHook(&CountingHook)(2, 0, 0), 9);
  EXPECT_EQ(g_hook_calls, 1);
  using Entry = BOOL(__stdcall*)(std::uint8_t*, void*);
  const auto entry = reinterpret_cast<Entry>(door->TwoArgumentEntry(reinterpret_cast<void*>(&TwoArguments)));
  std::uint8_t byte = 0;
  EXPECT_EQ(entry(&byte, nullptr), 2);
  EXPECT_EQ(entry(nullptr, &byte), 3);

  // The host is called by the module's own threads, which come in through the door.
  g_call_host = reinterpret_cast<HostCaller>(door->HostCall());
  const HANDLE thread = CreateThread(nullptr, 0, door->ThreadStart(&CallTheHostBothWays), nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  CloseHandle(thread);
  for (const HostCall& seen : g_seen) {
    EXPECT_EQ(seen.count, 1024);
    EXPECT_EQ(seen.status, 7);
    EXPECT_EQ(seen.iq, 0.5f);
    EXPECT_EQ(seen.data, &g_data);
  }
  EXPECT_TRUE(door->Close(1000, nullptr));
}

TEST(ModuleDoorTest, AfterCloseLateArrivalsAreTurnedAwayTheHarmlessWay) {
  const auto door = ModuleDoor::Open();
  ASSERT_NE(door, nullptr);
  const WNDPROC window = door->WindowProcedure(&EchoWindowProcedure);
  const DLGPROC dialog = door->DialogProcedure(&EchoDialogProcedure);
  const HOOKPROC hook = door->MessageHook(&CountingHook);
  using Entry = BOOL(__stdcall*)(std::uint8_t*, void*);
  const auto entry = reinterpret_cast<Entry>(door->TwoArgumentEntry(reinterpret_cast<void*>(&TwoArguments)));
  ASSERT_TRUE(door->Close(1000, nullptr));

  // A real window, so the default procedure has one to answer for.
  const HWND real = CreateWindowExA(0, "STATIC", "door", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(window(real, WM_GETTEXTLENGTH, 0, 0), DefWindowProcA(real, WM_GETTEXTLENGTH, 0, 0));
  DestroyWindow(real);
  EXPECT_EQ(dialog(nullptr, 3, 4, 5), 0);
  g_hook_calls = 0;
  hook(-1, 0, 0);
  EXPECT_EQ(g_hook_calls, 0);
  g_entry_calls = 0;
  EXPECT_EQ(entry(nullptr, nullptr), TRUE);
  EXPECT_EQ(g_entry_calls, 0);
}

// A thread of the module's own, started through the door, that calls the
// host; the host holds it until the test lets go.
struct HeldInHost {
  ModuleDoor* door = nullptr;
  HostCaller call_host = nullptr;
  HANDLE in_host = nullptr;
  HANDLE release = nullptr;
  std::atomic<bool> came_back{false};
};
HeldInHost* g_held = nullptr;

void __cdecl HoldingHost(int, int, float, void*) {
  SetEvent(g_held->in_host);
  WaitForSingleObject(g_held->release, INFINITE);
}

DWORD WINAPI ThreadOfTheModule(LPVOID argument) {
  auto& held = *static_cast<HeldInHost*>(argument);
  held.call_host(reinterpret_cast<void*>(&HoldingHost), 1, 0, 0.0f, nullptr);
  held.came_back = true;
  return 5;
}

TEST(ModuleDoorTest, AThreadInTheHostDoesNotHoldTheDoorAndEndsIfItClosedMeanwhile) {
  const auto door = ModuleDoor::Open();
  ASSERT_NE(door, nullptr);
  HeldInHost held;
  held.door = door.get();
  held.call_host = reinterpret_cast<HostCaller>(door->HostCall());
  held.in_host = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  held.release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_held = &held;
  const HANDLE thread = CreateThread(nullptr, 0, door->ThreadStart(&ThreadOfTheModule), &held, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(held.in_host, 10000), WAIT_OBJECT_0);

  // Inside the host the thread is outside the module: the door closes at once.
  EXPECT_TRUE(door->Close(5000, nullptr));
  SetEvent(held.release);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  EXPECT_FALSE(held.came_back);
  DWORD exit_code = 99;
  GetExitCodeThread(thread, &exit_code);
  EXPECT_EQ(exit_code, 0u);
  CloseHandle(thread);
  CloseHandle(held.in_host);
  CloseHandle(held.release);
  door->Keep();  // the thread's last steps were in the door's memory
}

std::atomic<int> g_meanwhile_calls{0};

DWORD WINAPI BusyInTheModule(LPVOID release) {
  WaitForSingleObject(static_cast<HANDLE>(release), INFINITE);
  return 1;
}

TEST(ModuleDoorTest, CloseWaitsForAThreadInsideAndSaysWhenItGaveUp) {
  const auto door = ModuleDoor::Open();
  ASSERT_NE(door, nullptr);
  const HANDLE release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  const HANDLE thread = CreateThread(nullptr, 0, door->ThreadStart(&BusyInTheModule), release, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  Sleep(100);
  g_meanwhile_calls = 0;
  EXPECT_FALSE(door->Close(200, [] { ++g_meanwhile_calls; }));
  EXPECT_GT(g_meanwhile_calls, 0);
  SetEvent(release);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  CloseHandle(thread);
  CloseHandle(release);
}

TEST(ModuleDoorTest, ManyThreadsComingAndGoingAtOnceLeaveItEmpty) {
  const auto door = ModuleDoor::Open();
  ASSERT_NE(door, nullptr);
  using Entry = BOOL(__stdcall*)(std::uint8_t*, void*);
  const auto entry = reinterpret_cast<Entry>(door->TwoArgumentEntry(reinterpret_cast<void*>(&TwoArguments)));
  g_entry_calls = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([entry] {
      std::uint8_t byte = 0;
      for (int i = 0; i < 20000; ++i) entry(&byte, nullptr);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(g_entry_calls, 80000);
  EXPECT_TRUE(door->Close(1000, nullptr));
}

}  // namespace
}  // namespace halvorn::win

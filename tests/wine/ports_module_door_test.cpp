// The module's door on its own, as 32-bit code under Windows, with the
// simulated device library standing in for the module: every way in forwards
// its arguments and result; a caller that holds the module keeps it loaded
// while inside, and the last one out unloads it; once it has gone a late
// arrival is turned away harmlessly, and a thread of the module's own coming
// back from the host ends where it stands; a library left at the unload is
// stopped, closed and released by a thread of the door's.
#include <gtest/gtest.h>
#include <windows.h>

#include <atomic>
#include <thread>
#include <vector>

#include "host/extio_plugin.h"
#include "ports/win32/module_door.h"

namespace halvorn::win {
namespace {

using Door = ModuleDoor;

LRESULT CALLBACK EchoWindowProcedure(HWND, UINT message, WPARAM wparam, LPARAM lparam) {
  return static_cast<LRESULT>(message * 1000 + wparam * 10 + lparam);
}
INT_PTR CALLBACK EchoDialogProcedure(HWND, UINT message, WPARAM wparam, LPARAM lparam) {
  return static_cast<INT_PTR>(message + wparam + lparam + 1);
}
std::atomic<int> g_counted_calls{0};
BOOL __stdcall CountedEntry(std::uint8_t* first, void* second) {
  ++g_counted_calls;
  return first != nullptr && second == nullptr ? 2 : 3;
}

// The host being called, and how it saw its arguments.
struct Seen {
  int count = 0, status = 0;
  float iq = 0;
  void* data = nullptr;
};
Seen g_seen;
void __cdecl CdeclHost(int count, int status, float iq, void* data) { g_seen = {count, status, iq, data}; }
// A host callback declared the wrong way, taking its arguments off the stack.
void __stdcall StdcallHost(int count, int status, float iq, void* data) { CdeclHost(count, status, iq, data); }
using HostCaller = void(__cdecl*)(const void* callback, int count, int status, float iq, void* data);

HostCaller g_call_host = nullptr;
Seen g_through_door[2];
int g_data = 0;
DWORD WINAPI CallTheHostBothWays(LPVOID) {
  const void* callbacks[] = {reinterpret_cast<const void*>(&CdeclHost), reinterpret_cast<const void*>(&StdcallHost)};
  for (int i = 0; i < 2; ++i) {
    g_call_host(callbacks[i], 1024, 7, 0.5f, &g_data);
    g_through_door[i] = g_seen;
  }
  return 1;
}

// A thread of the module's own, held by the host until the test lets go.
HANDLE g_in_host = nullptr;
HANDLE g_release = nullptr;
std::atomic<bool> g_came_back{false};
void __cdecl HoldingHost(int, int, float, void*) {
  SetEvent(g_in_host);
  WaitForSingleObject(g_release, INFINITE);
}
DWORD WINAPI CallTheHoldingHost(LPVOID) {
  g_call_host(reinterpret_cast<const void*>(&HoldingHost), 1, 0, 0.0f, nullptr);
  g_came_back = true;
  return 5;
}
// Says it is inside, then stays until released.
struct Busy {
  HANDLE inside, release;
};
DWORD WINAPI BusyInTheModule(LPVOID events) {
  SetEvent(static_cast<Busy*>(events)->inside);
  WaitForSingleObject(static_cast<Busy*>(events)->release, INFINITE);
  return 1;
}

// What a host does meanwhile: unloads the module, while a caller is inside.
HMODULE g_module = nullptr;
std::atomic<bool> g_loaded_inside{false};
LRESULT CALLBACK UnloadingWindowProcedure(HWND, UINT, WPARAM, LPARAM) {
  FreeLibrary(g_module);
  g_loaded_inside = GetModuleHandleA("halvornusb.dll") != nullptr;
  return 42;
}

std::vector<Door::Entry> Entries() {
  const void* default_procedure = reinterpret_cast<const void*>(&DefWindowProcA);
  return {
      {reinterpret_cast<const void*>(&EchoWindowProcedure), 16, Door::Way::kCounted, 0, default_procedure},
      {reinterpret_cast<const void*>(&EchoDialogProcedure), 16, Door::Way::kHoldingTheModule, FALSE},
      {reinterpret_cast<const void*>(&UnloadingWindowProcedure), 16, Door::Way::kHoldingTheModule, 0,
       default_procedure},
      {reinterpret_cast<const void*>(&CountedEntry), 8, Door::Way::kCounted, 1},
      {reinterpret_cast<const void*>(&CallTheHostBothWays), 4, Door::Way::kThreadStart, 0},
      {reinterpret_cast<const void*>(&CallTheHoldingHost), 4, Door::Way::kThreadStart, 0},
      {reinterpret_cast<const void*>(&BusyInTheModule), 4, Door::Way::kThreadStart, 0},
  };
}

// A library's stop and close, as the door's release thread calls them.
std::atomic<bool> g_stop_taken{true};
std::atomic<int> g_stops{0}, g_closes{0};
bool __stdcall StopInput() {
  ++g_stops;
  return g_stop_taken;
}
bool __stdcall CloseDevice() {
  ++g_closes;
  return true;
}

class ModuleDoorTest : public ::testing::Test {
 protected:
  void SetUp() override {
    g_module = LoadLibraryA((host::ProgramDirectory() + "..\\halvornusb.dll").c_str());
    ASSERT_NE(g_module, nullptr);
    door_ = Door::Open(g_module, Entries());
    ASSERT_NE(door_, nullptr);
  }
  void TearDown() override {
    if (GetModuleHandleA("halvornusb.dll") != nullptr) FreeLibrary(g_module);
  }

  std::unique_ptr<Door> door_;
};

TEST_F(ModuleDoorTest, EachWayInForwardsItsArgumentsAndResult) {
  EXPECT_EQ(door_->Into(&EchoWindowProcedure)(nullptr, 3, 4, 5), 3045);
  EXPECT_EQ(door_->Into(&EchoDialogProcedure)(nullptr, 3, 4, 5), 13);
  std::uint8_t byte = 0;
  EXPECT_EQ(door_->Into(&CountedEntry)(&byte, nullptr), 2);
  EXPECT_EQ(door_->Into(&CountedEntry)(nullptr, &byte), 3);
  // A function without a way in is its own.
  EXPECT_EQ(door_->Into(&CdeclHost), &CdeclHost);

  // The host is called by the module's own threads, which come in through the door.
  g_call_host = reinterpret_cast<HostCaller>(reinterpret_cast<void*>(door_->CountedStepOut()));
  const HANDLE thread = CreateThread(nullptr, 0, door_->Into(&CallTheHostBothWays), nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  CloseHandle(thread);
  for (const Seen& seen : g_through_door) {
    EXPECT_EQ(seen.count, 1024);
    EXPECT_EQ(seen.status, 7);
    EXPECT_EQ(seen.iq, 0.5f);
    EXPECT_EQ(seen.data, &g_data);
  }
  EXPECT_TRUE(door_->Close(1000, nullptr));
}

TEST_F(ModuleDoorTest, AModuleUnloadedWhileACallerIsInsideGoesWhenTheLastCallerLeaves) {
  g_loaded_inside = false;
  EXPECT_EQ(door_->Into(&UnloadingWindowProcedure)(nullptr, 0, 0, 0), 42);
  EXPECT_TRUE(g_loaded_inside) << "the module went while a caller was inside";
  EXPECT_EQ(GetModuleHandleA("halvornusb.dll"), nullptr) << "the last caller out did not unload it";
}

TEST_F(ModuleDoorTest, OnceTheModuleHasGoneLateArrivalsAreTurnedAwayHarmlessly) {
  ASSERT_TRUE(FreeLibrary(g_module));
  ASSERT_EQ(GetModuleHandleA("halvornusb.dll"), nullptr);
  ASSERT_TRUE(door_->Close(1000, nullptr));

  // A real window, so the default procedure has one to answer for.
  const HWND real = CreateWindowExA(0, "STATIC", "door", WS_POPUP, 0, 0, 10, 10, nullptr, nullptr, nullptr, nullptr);
  ASSERT_NE(real, nullptr);
  EXPECT_EQ(door_->Into(&EchoWindowProcedure)(real, WM_GETTEXTLENGTH, 0, 0),
            DefWindowProcA(real, WM_GETTEXTLENGTH, 0, 0));
  DestroyWindow(real);
  EXPECT_EQ(door_->Into(&EchoDialogProcedure)(nullptr, 3, 4, 5), FALSE);
  g_counted_calls = 0;
  EXPECT_EQ(door_->Into(&CountedEntry)(nullptr, nullptr), TRUE);
  EXPECT_EQ(g_counted_calls, 0);
}

TEST_F(ModuleDoorTest, AThreadInTheHostDoesNotHoldTheDoorAndEndsIfItShutMeanwhile) {
  g_call_host = reinterpret_cast<HostCaller>(reinterpret_cast<void*>(door_->CountedStepOut()));
  g_in_host = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_release = CreateEventA(nullptr, TRUE, FALSE, nullptr);
  g_came_back = false;
  const HANDLE thread = CreateThread(nullptr, 0, door_->Into(&CallTheHoldingHost), nullptr, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(g_in_host, 10000), WAIT_OBJECT_0);

  // Inside the host the thread is outside the module: the door shuts at once.
  EXPECT_TRUE(door_->Close(5000, nullptr));
  SetEvent(g_release);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  EXPECT_FALSE(g_came_back);
  DWORD exit_code = 99;
  GetExitCodeThread(thread, &exit_code);
  EXPECT_EQ(exit_code, 0u);
  CloseHandle(thread);
  CloseHandle(g_in_host);
  CloseHandle(g_release);
}

std::atomic<int> g_meanwhile_calls{0};

TEST_F(ModuleDoorTest, CloseWaitsForACountedThreadInsideAndSaysWhenItGaveUp) {
  Busy busy{CreateEventA(nullptr, TRUE, FALSE, nullptr), CreateEventA(nullptr, TRUE, FALSE, nullptr)};
  const HANDLE thread = CreateThread(nullptr, 0, door_->Into(&BusyInTheModule), &busy, 0, nullptr);
  ASSERT_NE(thread, nullptr);
  ASSERT_EQ(WaitForSingleObject(busy.inside, 10000), WAIT_OBJECT_0);
  g_meanwhile_calls = 0;
  EXPECT_FALSE(door_->Close(200, [] { ++g_meanwhile_calls; }));
  EXPECT_GT(g_meanwhile_calls, 0);
  SetEvent(busy.release);
  ASSERT_EQ(WaitForSingleObject(thread, 10000), WAIT_OBJECT_0);
  CloseHandle(thread);
  CloseHandle(busy.inside);
  CloseHandle(busy.release);
}

TEST_F(ModuleDoorTest, ManyThreadsComingAndGoingAtOnceLeaveItEmpty) {
  const auto entry = door_->Into(&CountedEntry);
  g_counted_calls = 0;
  std::vector<std::thread> threads;
  for (int t = 0; t < 4; ++t) {
    threads.emplace_back([entry] {
      std::uint8_t byte = 0;
      for (int i = 0; i < 20000; ++i) entry(&byte, nullptr);
    });
  }
  for (auto& thread : threads) thread.join();
  EXPECT_EQ(g_counted_calls, 80000);
  EXPECT_TRUE(door_->Close(1000, nullptr));
}

TEST_F(ModuleDoorTest, ALibraryLeftAtTheUnloadIsStoppedClosedAndReleasedAfterItUnlessItsInputRunsOn) {
  // The fixture's reference goes: the door's release holds the only one.
  ASSERT_TRUE(FreeLibrary(g_module));
  for (const bool stop_taken : {true, false}) {
    const HMODULE library = LoadLibraryA((host::ProgramDirectory() + "..\\halvornusb.dll").c_str());
    ASSERT_NE(library, nullptr);
    g_stop_taken = stop_taken;
    g_stops = 0;
    g_closes = 0;
    auto door = Door::Open(g_module, Entries());
    ASSERT_NE(door, nullptr);
    const HANDLE done = CreateEventA(nullptr, TRUE, FALSE, nullptr);
    HANDLE watched = nullptr;
    DuplicateHandle(GetCurrentProcess(), done, GetCurrentProcess(), &watched, 0, FALSE, DUPLICATE_SAME_ACCESS);
    ASSERT_TRUE(door->ReleaseAfterUnload({reinterpret_cast<const void*>(&StopInput),
                                          reinterpret_cast<const void*>(&CloseDevice), library, done}));
    ASSERT_EQ(WaitForSingleObject(watched, 10000), WAIT_OBJECT_0);
    CloseHandle(watched);
    EXPECT_EQ(g_stops, 1);
    EXPECT_EQ(g_closes, 1);
    EXPECT_EQ(GetModuleHandleA("halvornusb.dll") != nullptr, !stop_taken) << "stop taken: " << stop_taken;
  }
}

}  // namespace
}  // namespace halvorn::win

#include <atomic>
#include <chrono>
#include <string>
#include <thread>

#include "device/device_abi.h"
#include "simulator/counting_pattern.h"
#include "tests/wine/plugin_fixture.h"

namespace halvorn::wine_tests {
namespace {

// The simulated receiver loaded on its own, beside the plug-in the fixture
// loads, which leaves it alone.
class SimulatorLibraryTest : public PluginTest {
 protected:
  void TearDown() override {
    if (library_ != nullptr) {
      Entry<device::StopAsyncInputFn>("StopAsyncInput")();
      FreeLibrary(library_);
    }
    PluginTest::TearDown();
  }

  HMODULE LoadSimulator() {
    library_ = LoadLibraryA((BuildDirectory() + "halvornusb.dll").c_str());
    return library_;
  }

  void FreeSimulator() {
    FreeLibrary(library_);
    library_ = nullptr;
  }

  template <typename Fn>
  Fn Entry(const char* name) {
    return reinterpret_cast<Fn>(reinterpret_cast<void*>(GetProcAddress(library_, name)));
  }

  void LoadBitstreamAndStart(device::TransferCallbackFn callback) {
    static const std::uint8_t kDescriptor[8] = {0x28, 0x00, 21, 16, 4, 24, 0, 0};
    ASSERT_EQ(Entry<device::FpgaConfigFn>("FpgaConfig")("halvorn2m24v21", kDescriptor), 0);
    ASSERT_TRUE(Entry<device::StartAsyncInputFn>("StartAsyncInput")(98304, callback, 0));
  }

  HMODULE library_ = nullptr;
};

std::atomic<std::uint64_t> g_calls{0};
std::atomic<std::uint64_t> g_wrong_pairs{0};
std::atomic<bool> g_inside{false};
std::uint64_t g_next_pair = 0;

bool HALVORN_STDCALL CountingCallback(std::uint8_t* transfer, void*) {
  g_inside = true;
  for (int offset = 0; offset < 98304; offset += simulator::kPairBytes) {
    if (simulator::ReadCountingPair(transfer + offset) != g_next_pair++) ++g_wrong_pairs;
  }
  Sleep(1);
  ++g_calls;
  g_inside = false;
  return true;
}

void ResetCapture() {
  g_calls = 0;
  g_wrong_pairs = 0;
  g_next_pair = 0;
}

bool WaitForCalls(std::uint64_t calls) {
  for (int waited_ms = 0; g_calls < calls; waited_ms += 5) {
    if (waited_ms > 60000) return false;
    Sleep(5);
  }
  return true;
}

TEST_F(SimulatorLibraryTest, MissingSettingHidesExactlyTheListedEntries) {
  SetSimulator("HALVORNSIM_MISSING", "Sio, GetDLLVersion,EepromWrite,NoSuchEntry");
  ASSERT_NE(LoadSimulator(), nullptr);
  for (const char* name : device::kEntryNames) {
    const bool hidden = std::string(name) == "Sio" || std::string(name) == "GetDLLVersion" ||
                        std::string(name) == "EepromWrite";
    EXPECT_EQ(GetProcAddress(library_, name) == nullptr, hidden) << name;
  }
  // The entries still there work.
  EXPECT_TRUE(Entry<device::OpenFn>("Open")());
  EXPECT_EQ(journal_.Entries(), std::vector<std::string>{"Open"});
}

TEST_F(SimulatorLibraryTest, EachLoadReadsTheMissingSettingAfresh) {
  SetSimulator("HALVORNSIM_MISSING", "Open,Close");
  ASSERT_NE(LoadSimulator(), nullptr);
  EXPECT_EQ(GetProcAddress(library_, "Open"), nullptr);
  FreeSimulator();
  SetSimulator("HALVORNSIM_MISSING", "");
  ASSERT_NE(LoadSimulator(), nullptr);
  for (const char* name : device::kEntryNames) EXPECT_NE(GetProcAddress(library_, name), nullptr) << name;
}

TEST_F(SimulatorLibraryTest, SettingsMadeAfterStartUpAreSeenAtTheNextCall) {
  ASSERT_NE(LoadSimulator(), nullptr);
  auto open = Entry<device::OpenFn>("Open");
  EXPECT_TRUE(open());
  SetSimulator("HALVORNSIM_FAIL", "Open");
  EXPECT_FALSE(open());
  EXPECT_EQ(journal_.Calls("Open").back()["injected"], "fail");
}

TEST_F(SimulatorLibraryTest, CountingStreamStopsCleanlyAndTheLibraryCanGoAtOnce) {
  SetSimulator("HALVORNSIM_SOURCE", "counting");
  SetSimulator("HALVORNSIM_PACING", "unpaced");
  for (int cycle = 0; cycle < 3; ++cycle) {
    ASSERT_NE(LoadSimulator(), nullptr);
    ResetCapture();
    LoadBitstreamAndStart(&CountingCallback);
    ASSERT_TRUE(WaitForCalls(20));
    ASSERT_TRUE(Entry<device::StopAsyncInputFn>("StopAsyncInput")());
    EXPECT_FALSE(g_inside);
    const std::uint64_t calls = g_calls;
    EXPECT_EQ(g_wrong_pairs, 0u);
    EXPECT_EQ(journal_.Calls("StopAsyncInput").back().Number("transfers"), static_cast<long long>(calls));
    // Released while its input thread may still be ending: that thread keeps
    // the library until it has.
    FreeSimulator();
    Sleep(20);
    EXPECT_EQ(g_calls, calls);
  }
}

TEST_F(SimulatorLibraryTest, StopReturnsUnderTheLoaderLock) {
  using LockFn = LONG(WINAPI*)(ULONG, ULONG*, ULONG_PTR*);
  using UnlockFn = LONG(WINAPI*)(ULONG, ULONG_PTR);
  HMODULE ntdll = GetModuleHandleA("ntdll.dll");
  auto lock = reinterpret_cast<LockFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrLockLoaderLock")));
  auto unlock = reinterpret_cast<UnlockFn>(reinterpret_cast<void*>(GetProcAddress(ntdll, "LdrUnlockLoaderLock")));
  ASSERT_TRUE(lock != nullptr && unlock != nullptr);
  SetSimulator("HALVORNSIM_SOURCE", "counting");
  ASSERT_NE(LoadSimulator(), nullptr);
  ResetCapture();
  LoadBitstreamAndStart(&CountingCallback);
  ASSERT_TRUE(WaitForCalls(3));
  // As a plug-in's DllMain would stop the stream while being unloaded.
  ULONG_PTR cookie = 0;
  ASSERT_EQ(lock(0, nullptr, &cookie), 0);
  const bool stopped = Entry<device::StopAsyncInputFn>("StopAsyncInput")();
  const bool inside = g_inside;
  unlock(0, cookie);
  EXPECT_TRUE(stopped);
  EXPECT_FALSE(inside);
  // A new stream starts while the old thread may still be ending.
  ResetCapture();
  ASSERT_TRUE(Entry<device::StartAsyncInputFn>("StartAsyncInput")(98304, &CountingCallback, 0));
  ASSERT_TRUE(WaitForCalls(3));
  ASSERT_TRUE(Entry<device::StopAsyncInputFn>("StopAsyncInput")());
  EXPECT_EQ(g_wrong_pairs, 0u);
}

}  // namespace
}  // namespace halvorn::wine_tests

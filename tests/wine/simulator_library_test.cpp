#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <vector>
#include <string>
#include <thread>

#include "device/device_abi.h"
#include "simulator/counting_pattern.h"
#include "tests/support/win32/loader_lock.h"
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

  // As a plug-in's DllMain stops the stream while being unloaded: holding the
  // loader's lock, `held_ms` after taking it.
  bool StopUnderTheLoaderLock(DWORD held_ms) {
    testing::LoaderLock loader;
    EXPECT_TRUE(loader.held());
    Sleep(held_ms);
    return Entry<device::StopAsyncInputFn>("StopAsyncInput")();
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
  SetSimulator("HALVORNSIM_SOURCE", "counting");
  ASSERT_NE(LoadSimulator(), nullptr);
  ResetCapture();
  LoadBitstreamAndStart(&CountingCallback);
  ASSERT_TRUE(WaitForCalls(3));
  EXPECT_TRUE(StopUnderTheLoaderLock(0));
  EXPECT_FALSE(g_inside);
  // A new stream starts while the old thread may still be ending.
  ResetCapture();
  ASSERT_TRUE(Entry<device::StartAsyncInputFn>("StartAsyncInput")(98304, &CountingCallback, 0));
  ASSERT_TRUE(WaitForCalls(3));
  ASSERT_TRUE(Entry<device::StopAsyncInputFn>("StopAsyncInput")());
  EXPECT_EQ(g_wrong_pairs, 0u);
}

// A library loaded afresh whose input thread makes its first timed wait (here
// the stall's) while an unload holds the loader's lock: the stop still
// returns, as the thread never needs that lock while holding the input.
TEST_F(SimulatorLibraryTest, AStopUnderTheLoaderLockReturnsWhenTheThreadsFirstTimedWaitComesMeanwhile) {
  SetSimulator("HALVORNSIM_SOURCE", "counting");
  SetSimulator("HALVORNSIM_PACING", "unpaced");
  SetSimulator("HALVORNSIM_STALL", "300,5000");
  ASSERT_NE(LoadSimulator(), nullptr);
  ResetCapture();
  LoadBitstreamAndStart(&CountingCallback);
  ASSERT_TRUE(WaitForCalls(3));
  EXPECT_TRUE(StopUnderTheLoaderLock(600));  // the stall begins meanwhile
  EXPECT_FALSE(g_inside);
  EXPECT_EQ(g_wrong_pairs, 0u);
}

bool HALVORN_STDCALL CountingOnly(std::uint8_t*, void*) {
  ++g_calls;
  return true;
}

TEST_F(SimulatorLibraryTest, RealtimeTransfersNeverComeEarlyAndKeepUpRoughly) {
  SetSimulator("HALVORNSIM_SOURCE", "counting");
  ASSERT_NE(LoadSimulator(), nullptr);
  ResetCapture();
  const auto started = std::chrono::steady_clock::now();
  LoadBitstreamAndStart(&CountingOnly);  // 2 MS/s: one transfer every 8.192 ms
  Sleep(1000);
  const std::uint64_t calls = g_calls;
  const double elapsed_s = std::chrono::duration<double>(std::chrono::steady_clock::now() - started).count();
  ASSERT_TRUE(Entry<device::StopAsyncInputFn>("StopAsyncInput")());
  const double due = elapsed_s / 0.008192;
  EXPECT_LE(static_cast<double>(calls), due + 1.0);
  EXPECT_GE(static_cast<double>(calls), due * 0.25);
}

constexpr std::size_t kScenePairs = 65536;
std::vector<std::complex<double>> g_scene;
std::atomic<bool> g_scene_complete{false};

std::int32_t Read24(const std::uint8_t* bytes) {
  const std::int32_t value = bytes[0] | bytes[1] << 8 | bytes[2] << 16;
  return (value & 0x800000) != 0 ? value - 0x1000000 : value;
}

bool HALVORN_STDCALL SceneCallback(std::uint8_t* transfer, void*) {
  for (int pair = 0; pair < 16384 && g_scene.size() < kScenePairs; ++pair) {
    g_scene.emplace_back(Read24(transfer + 6 * pair), Read24(transfer + 6 * pair + 3));
  }
  if (g_scene.size() >= kScenePairs) g_scene_complete = true;
  return true;
}

TEST_F(SimulatorLibraryTest, TheSceneShowsItsCarrierAtTheRightOffset) {
  SetSimulator("HALVORNSIM_PACING", "unpaced");
  SetSimulator("HALVORNSIM_CLOCK_HZ", "80000000");
  ASSERT_NE(LoadSimulator(), nullptr);
  std::uint8_t record[5] = {0x02, 0x28, 0x5C, 0x8F, 0x16};  // 7.05 MHz
  ASSERT_EQ(Entry<device::SioFn>("Sio")(record, 5), 0);
  ASSERT_TRUE(Entry<device::SetPreselectorFn>("SetPreselector")(5));
  g_scene.clear();
  g_scene.reserve(kScenePairs);
  g_scene_complete = false;
  LoadBitstreamAndStart(&SceneCallback);
  for (int waited_ms = 0; !g_scene_complete && waited_ms < 60000; waited_ms += 5) Sleep(5);
  ASSERT_TRUE(Entry<device::StopAsyncInputFn>("StopAsyncInput")());
  ASSERT_TRUE(g_scene_complete);
  // The 6.995 MHz carrier, 55 kHz below, at -80 dBFS.
  const double offset_hz = 6995000.0 - 0x168F5C28 * 80000000.0 / 4294967296.0;
  std::complex<double> sum = 0.0;
  for (std::size_t n = 0; n < g_scene.size(); ++n) {
    sum += g_scene[n] * std::polar(1.0, -2.0 * 3.14159265358979 * offset_hz * static_cast<double>(n) / 2000000.0);
  }
  const double amplitude = std::abs(sum) / static_cast<double>(g_scene.size());
  EXPECT_NEAR(20.0 * std::log10(amplitude / (8388607.0 * std::pow(10.0, -80.0 / 20.0))), 0.0, 0.5);
}

}  // namespace
}  // namespace halvorn::wine_tests

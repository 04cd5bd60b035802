#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <vector>
#include <string>
#include <thread>

#include "device/device_abi.h"
#include "simulator/counting_pattern.h"
#include "tests/support/receiver_arithmetic.h"
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
    // Unknown to the plug-in fixture, which clears the others for each test.
    SetSimulator("HALVORNSIM_UNPLUG", "");
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
// The thread that calls back, opened by itself, so its end shows in the handle.
std::atomic<HANDLE> g_input_thread{nullptr};

void NoteInputThread() {
  if (g_input_thread != nullptr) return;
  g_input_thread = OpenThread(SYNCHRONIZE, FALSE, GetCurrentThreadId());
}

// Holds the loader's lock on a thread of its own for `held_ms`, as an unload
// does; `released` turns true just before it lets go.
class LoaderLockHolder {
 public:
  explicit LoaderLockHolder(DWORD held_ms)
      : thread_([this, held_ms] {
          testing::LoaderLock loader;
          EXPECT_TRUE(loader.held());
          locked_ = true;
          Sleep(held_ms);
          released_ = true;
        }) {
    while (!locked_) Sleep(1);
  }
  ~LoaderLockHolder() { thread_.join(); }

  bool released() const { return released_; }

 private:
  std::atomic<bool> locked_{false};
  std::atomic<bool> released_{false};
  std::thread thread_;  // last: it uses the flags
};

bool InputThreadEnded() { return g_input_thread != nullptr && WaitForSingleObject(g_input_thread, 0) == WAIT_OBJECT_0; }

bool HALVORN_STDCALL CountingCallback(std::uint8_t* transfer, void*) {
  NoteInputThread();
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
  if (HANDLE thread = g_input_thread.exchange(nullptr)) CloseHandle(thread);
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
    EXPECT_TRUE(InputThreadEnded());
    const std::uint64_t calls = g_calls;
    EXPECT_EQ(g_wrong_pairs, 0u);
    EXPECT_EQ(journal_.Calls("StopAsyncInput").back().Number("transfers"), static_cast<long long>(calls));
    FreeSimulator();
    Sleep(20);
    EXPECT_EQ(g_calls, calls);
  }
}

// A thread's end passes through the loader: while another thread holds the
// loader's lock, as an unload does, the stop waits; under that lock itself it
// would wait for good, as a real device library's does.
TEST_F(SimulatorLibraryTest, AStopWaitsUntilItsInputThreadHasEndedThroughTheLoader) {
  SetSimulator("HALVORNSIM_SOURCE", "counting");
  ASSERT_NE(LoadSimulator(), nullptr);
  const auto stop = Entry<device::StopAsyncInputFn>("StopAsyncInput");  // the lookup takes the lock
  ResetCapture();
  LoadBitstreamAndStart(&CountingCallback);
  ASSERT_TRUE(WaitForCalls(3));
  LoaderLockHolder unload(500);
  EXPECT_TRUE(stop());
  EXPECT_TRUE(unload.released()) << "the stop returned before its input thread could end";
  EXPECT_TRUE(InputThreadEnded());
}

device::StopAsyncInputFn g_inner_stop = nullptr;
std::atomic<bool> g_inner_stop_returned{false};

TEST_F(SimulatorLibraryTest, UnpluggedTheInputFallsSilentAndAReopenAfterTheReplugStreamsAgain) {
  SetSimulator("HALVORNSIM_SOURCE", "counting");
  SetSimulator("HALVORNSIM_PACING", "unpaced");
  SetSimulator("HALVORNSIM_UNPLUG", "0.1:0.1");
  ASSERT_NE(LoadSimulator(), nullptr);
  const auto open = Entry<device::OpenFn>("Open");
  const auto close = Entry<device::CloseFn>("Close");
  const auto firmware = Entry<device::FirmwareDownloadFn>("FirmwareDownload");
  const auto stop = Entry<device::StopAsyncInputFn>("StopAsyncInput");
  ASSERT_TRUE(open());
  ASSERT_EQ(firmware(nullptr), 0);
  ResetCapture();
  LoadBitstreamAndStart(&CountingCallback);
  for (int waited_ms = 0; journal_.Calls("Unplugged").empty(); waited_ms += 5) {
    ASSERT_LT(waited_ms, 60000) << "never unplugged";
    Sleep(5);
  }
  const std::uint64_t calls = g_calls;
  EXPECT_GT(calls, 0u);
  Sleep(50);
  EXPECT_EQ(g_calls, calls) << "the input called back after the unplug";
  EXPECT_FALSE(g_inside);
  // Back once Open finds its old handle stale rather than the receiver gone.
  for (int waited_ms = 0;; waited_ms += 5) {
    ASSERT_FALSE(open());
    if (journal_.Calls("Open").back()["refused"] == "stale_handle") break;
    ASSERT_LT(waited_ms, 60000) << "never plugged back";
    Sleep(5);
  }
  EXPECT_EQ(g_calls, calls);
  ASSERT_TRUE(stop());
  EXPECT_TRUE(InputThreadEnded());
  ASSERT_TRUE(close());
  ASSERT_TRUE(open());
  ASSERT_EQ(firmware(nullptr), 0);
  ResetCapture();
  LoadBitstreamAndStart(&CountingCallback);
  ASSERT_TRUE(WaitForCalls(10));
  ASSERT_TRUE(stop());
  EXPECT_EQ(g_wrong_pairs, 0u);
  EXPECT_EQ(journal_.Calls("Unplugged").size(), 1u);
  EXPECT_EQ(journal_.Calls("PluggedBack").size(), 1u);
}

bool HALVORN_STDCALL StoppingCallback(std::uint8_t*, void*) {
  NoteInputThread();
  if (++g_calls == 3) {
    g_inner_stop();
    g_inner_stop_returned = true;
    Sleep(300);
  }
  return true;
}

TEST_F(SimulatorLibraryTest, AStopFromTheCallbackReturnsAtOnceAndTheNextStopWaitsForItsThread) {
  SetSimulator("HALVORNSIM_SOURCE", "counting");
  ASSERT_NE(LoadSimulator(), nullptr);
  ResetCapture();
  g_inner_stop = Entry<device::StopAsyncInputFn>("StopAsyncInput");
  g_inner_stop_returned = false;
  LoadBitstreamAndStart(&StoppingCallback);
  for (int waited_ms = 0; !g_inner_stop_returned && waited_ms < 60000; waited_ms += 1) Sleep(1);
  ASSERT_TRUE(g_inner_stop_returned);
  // The callback returns meanwhile; its thread's end waits for the lock.
  LoaderLockHolder unload(500);
  ASSERT_TRUE(g_inner_stop());
  EXPECT_TRUE(unload.released()) << "the stop returned before the stopped thread had ended";
  EXPECT_TRUE(InputThreadEnded());
  EXPECT_EQ(g_calls, 3u);
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
  const double offset_hz = 6995000.0 - testing::TunedHz(0x168F5C28, 80000000);
  std::complex<double> sum = 0.0;
  for (std::size_t n = 0; n < g_scene.size(); ++n) {
    sum += g_scene[n] * std::polar(1.0, -2.0 * 3.14159265358979 * offset_hz * static_cast<double>(n) / 2000000.0);
  }
  const double amplitude = std::abs(sum) / static_cast<double>(g_scene.size());
  EXPECT_NEAR(20.0 * std::log10(amplitude / (8388607.0 * std::pow(10.0, -80.0 / 20.0))), 0.0, 0.5);
}

}  // namespace
}  // namespace halvorn::wine_tests

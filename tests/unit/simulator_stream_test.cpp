#include <atomic>
#include <chrono>
#include <cstring>
#include <set>
#include <string>
#include <thread>
#include <vector>

#include "receiver/sample_rate_table.h"
#include "simulator/counting_pattern.h"
#include "tests/support/simulator_library_fixture.h"

namespace halvorn::simulator {
namespace {

using Clock = std::chrono::steady_clock;

// What the callback saw. The library calls it from one thread at a time;
// `inside` catches a second call overlapping the first.
struct Capture {
  std::atomic<std::uint64_t> calls{0};
  std::atomic<bool> inside{false};
  std::atomic<bool> overlapped{false};
  std::atomic<std::uint64_t> wrong_pairs{0};
  std::atomic<int> pause_us{0};
  std::atomic<std::uint64_t> stop_at_call{0};  // 0: never stop from inside
  std::atomic<bool> inner_start_refused{false};
  std::atomic<bool> inner_stop_returned{false};
  std::atomic<int> linger_after_stop_ms{0};  // the callback's time after its own stop
  // Input threads that called back, and those of them that have ended, each
  // that long after its body returned: not reset per stream.
  std::atomic<int> threads_called_back{0};
  std::atomic<int> threads_ended{0};
  std::atomic<int> thread_end_ms{0};
  std::atomic<std::int64_t> longest_gap_ms{0};
  Clock::time_point last_call{};       // callback only
  std::size_t bytes_per_transfer = 0;
  std::uint64_t next_pair = 0;         // callback only
  std::vector<std::uint8_t> bytes;     // callback only: the first bytes received
  std::size_t keep_bytes = 0;
  device::StopAsyncInputFn stop = nullptr;
  device::StartAsyncInputFn start = nullptr;

  void Reset(std::size_t transfer_bytes) {
    calls = 0;
    overlapped = false;
    wrong_pairs = 0;
    pause_us = 0;
    stop_at_call = 0;
    inner_start_refused = false;
    inner_stop_returned = false;
    linger_after_stop_ms = 0;
    longest_gap_ms = 0;
    last_call = {};
    bytes_per_transfer = transfer_bytes;
    next_pair = 0;
    bytes.clear();
    keep_bytes = 0;
  }
};

Capture g_capture;

// Its destructor runs as the thread ends, before a join of it returns; the
// delay lets a stop that does not wait for the thread's end return first.
struct InputThreadWatch {
  InputThreadWatch() { ++g_capture.threads_called_back; }
  ~InputThreadWatch() {
    std::this_thread::sleep_for(std::chrono::milliseconds(g_capture.thread_end_ms));
    ++g_capture.threads_ended;
  }
};

bool HALVORN_STDCALL CountingCallback(std::uint8_t* transfer, void*) {
  Capture& c = g_capture;
  thread_local InputThreadWatch watch;
  if (c.inside.exchange(true)) c.overlapped = true;
  const Clock::time_point now = Clock::now();
  if (c.last_call != Clock::time_point{}) {
    const auto gap = std::chrono::duration_cast<std::chrono::milliseconds>(now - c.last_call).count();
    if (gap > c.longest_gap_ms) c.longest_gap_ms = gap;
  }
  c.last_call = now;
  for (std::size_t offset = 0; offset + kPairBytes <= c.bytes_per_transfer; offset += kPairBytes) {
    if (ReadCountingPair(transfer + offset) != c.next_pair) ++c.wrong_pairs;
    ++c.next_pair;
  }
  if (c.bytes.size() < c.keep_bytes) {
    const std::size_t take = std::min(c.keep_bytes - c.bytes.size(), c.bytes_per_transfer);
    c.bytes.insert(c.bytes.end(), transfer, transfer + take);
  }
  if (const int pause = c.pause_us.load(); pause > 0) std::this_thread::sleep_for(std::chrono::microseconds(pause));
  const std::uint64_t call = ++c.calls;
  if (c.stop_at_call != 0 && call == c.stop_at_call) {
    if (c.start(6144, &CountingCallback, 0)) c.overlapped = true;  // must be refused
    c.inner_start_refused = true;
    c.stop();
    c.inner_stop_returned = true;
    std::this_thread::sleep_for(std::chrono::milliseconds(c.linger_after_stop_ms));
  }
  c.inside = false;
  return true;
}

class SimulatorStreamTest : public testing::LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    Set("HALVORNSIM_SOURCE", "counting");
    Set("HALVORNSIM_PACING", "unpaced");
    g_capture.Reset(0);
    g_capture.threads_called_back = 0;
    g_capture.threads_ended = 0;
    g_capture.thread_end_ms = 0;
    g_capture.stop = Entry<device::StopAsyncInputFn>("StopAsyncInput");
    g_capture.start = Entry<device::StartAsyncInputFn>("StartAsyncInput");
  }

  void Load(int row) {
    const auto& entry = receiver::kSampleRateTable[static_cast<std::size_t>(row)];
    ASSERT_EQ(device_->FpgaConfig(entry.bitstream_name, entry.descriptor), 0);
  }

  bool Start(int bytes_per_transfer) {
    g_capture.Reset(static_cast<std::size_t>(bytes_per_transfer));
    return device_->StartAsyncInput(bytes_per_transfer, &CountingCallback);
  }

  // Generous: the machine is shared, and only a fault makes this wait long.
  template <typename Done>
  static bool WaitUntil(Done done) {
    const auto give_up = Clock::now() + std::chrono::seconds(60);
    while (!done()) {
      if (Clock::now() > give_up) return false;
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    return true;
  }

  static bool WaitForCalls(std::uint64_t calls) {
    return WaitUntil([calls] { return g_capture.calls >= calls; });
  }

  bool JournalHas(const std::string& line) const {
    for (const auto& written : JournalText()) {
      if (written == line) return true;
    }
    return false;
  }

  // The entries that need the receiver running its firmware, each refused
  // with its failure value and `reason`.
  void ExpectDeviceCallsRefused(const std::string& reason) {
    const auto& row = receiver::kSampleRateTable[0];
    EXPECT_EQ(device_->FpgaConfig(row.bitstream_name, row.descriptor), -1);
    EXPECT_EQ(LastJournalLine(),
              "FpgaConfig name=halvorn125k24v21 descriptor=8002150100180000 result=-1 rate_hz=0 refused=" + reason);
    std::uint8_t record[5] = {0x02, 0, 0, 0, 0};
    EXPECT_EQ(device_->Sio(record, 5), -1);
    EXPECT_EQ(LastJournalLine(), "Sio length=5 record=0200000000 result=-1 refused=" + reason);
    EXPECT_FALSE(device_->SetAttenuator(1));
    EXPECT_EQ(LastJournalLine(), "SetAttenuator step=1 result=0 refused=" + reason);
    EXPECT_FALSE(device_->SetPreselector(3));
    EXPECT_EQ(LastJournalLine(), "SetPreselector setting=3 result=0 refused=" + reason);
    EXPECT_FALSE(device_->StartAsyncInput(6144, &CountingCallback));
    EXPECT_EQ(LastJournalLine(), "StartAsyncInput bytes=6144 result=0 refused=" + reason);
    char name[64];
    EXPECT_FALSE(Entry<device::GetDeviceNameFn>("GetDeviceName")(name, sizeof name));
    EXPECT_EQ(LastJournalLine(), "GetDeviceName length=64 result=0 refused=" + reason);
    EXPECT_FALSE(Entry<device::GetFriendlyDeviceNameFn>("GetFriendlyDeviceName")(name, sizeof name));
    std::uint8_t eeprom[4] = {};
    EXPECT_FALSE(Entry<device::EepromReadFn>("EepromRead")(eeprom, 0, 4));
    EXPECT_FALSE(Entry<device::EepromWriteFn>("EepromWrite")(eeprom, 0, 4));
    EXPECT_EQ(Entry<device::GetInputDataFn>("GetInputData")(eeprom, 4), -1);
    // The library's own version needs no receiver.
    EXPECT_EQ(Entry<device::GetDLLVersionFn>("GetDLLVersion")(), 0x0100);
  }

  // Open and the firmware, the 125 kS/s bitstream and a counting stream.
  void OpenAndStream() {
    ASSERT_TRUE(device_->Open());
    ASSERT_EQ(device_->FirmwareDownload(nullptr), 0);
    Load(0);
    ASSERT_TRUE(Start(6144));
  }
};

TEST_F(SimulatorStreamTest, CountingPairsRunOnAcrossManyTransfers) {
  Load(4);
  ASSERT_TRUE(Start(98304));
  ASSERT_TRUE(WaitForCalls(500));
  ASSERT_TRUE(device_->StopAsyncInput());
  const std::uint64_t calls = g_capture.calls;
  EXPECT_EQ(g_capture.wrong_pairs, 0u);
  EXPECT_FALSE(g_capture.overlapped);
  EXPECT_EQ(g_capture.next_pair, calls * 16384);
  const auto stop = journal_.Calls("StopAsyncInput").at(0);
  EXPECT_EQ(stop["result"], "1");
  EXPECT_EQ(static_cast<std::uint64_t>(stop.Number("transfers")), calls);
  EXPECT_EQ(journal_.Calls("StartAsyncInput").at(0)["bytes"], "98304");
}

TEST_F(SimulatorStreamTest, EveryRowsTransfersHaveTheAnnouncedSize) {
  for (int row = 0; row < receiver::kSampleRateCount; ++row) {
    Load(row);
    const int bytes = receiver::kSampleRateTable[static_cast<std::size_t>(row)].bytes_per_transfer();
    ASSERT_TRUE(Start(bytes)) << row;
    ASSERT_TRUE(WaitForCalls(20)) << row;
    ASSERT_TRUE(device_->StopAsyncInput());
    EXPECT_EQ(g_capture.wrong_pairs, 0u) << row;
    EXPECT_EQ(g_capture.next_pair, g_capture.calls * static_cast<std::uint64_t>(bytes / 6)) << row;
  }
  EXPECT_EQ(journal_.Calls("StartAsyncInput").size(), 9u);
}

TEST_F(SimulatorStreamTest, TransfersThatCutAPairKeepTheByteStreamWhole) {
  Load(0);
  constexpr int kBytes = 5000;  // not a whole number of pairs
  g_capture.Reset(0);
  g_capture.keep_bytes = kBytes * 30;
  g_capture.bytes_per_transfer = kBytes;
  ASSERT_TRUE(device_->StartAsyncInput(kBytes, &CountingCallback));
  ASSERT_TRUE(WaitForCalls(31));
  ASSERT_TRUE(device_->StopAsyncInput());
  ASSERT_EQ(g_capture.bytes.size(), static_cast<std::size_t>(kBytes * 30));
  for (std::size_t pair = 0; pair * kPairBytes < g_capture.bytes.size(); ++pair) {
    ASSERT_EQ(ReadCountingPair(g_capture.bytes.data() + pair * kPairBytes), pair);
  }
}

TEST_F(SimulatorStreamTest, TheBlockSourceCountsOnlyAtBlockStarts) {
  Set("HALVORNSIM_SOURCE", "blocks");
  Load(4);
  constexpr int kBytes = 98304;
  g_capture.Reset(0);
  g_capture.keep_bytes = kBytes * 3;
  g_capture.bytes_per_transfer = kBytes;
  ASSERT_TRUE(device_->StartAsyncInput(kBytes, &CountingCallback));
  ASSERT_TRUE(WaitForCalls(4));
  ASSERT_TRUE(device_->StopAsyncInput());
  ASSERT_EQ(g_capture.bytes.size(), static_cast<std::size_t>(kBytes * 3));
  for (std::size_t pair = 0; pair * kPairBytes < g_capture.bytes.size(); ++pair) {
    ASSERT_EQ(ReadCountingPair(g_capture.bytes.data() + pair * kPairBytes), pair % 1024 == 0 ? pair : 0) << pair;
  }
}

TEST_F(SimulatorStreamTest, StartIsRefusedWithoutABitstreamOrWhileRunning) {
  EXPECT_FALSE(Start(6144));
  EXPECT_EQ(LastJournalLine(), "StartAsyncInput bytes=6144 result=0 refused=no_bitstream");
  Load(0);
  ASSERT_TRUE(Start(6144));
  EXPECT_EQ(LastJournalLine(), "StartAsyncInput bytes=6144 result=1");
  EXPECT_FALSE(device_->StartAsyncInput(6144, &CountingCallback));
  EXPECT_EQ(LastJournalLine(), "StartAsyncInput bytes=6144 result=0 refused=running");
  ASSERT_TRUE(device_->StopAsyncInput());
  EXPECT_FALSE(device_->StartAsyncInput(6144, nullptr));
  EXPECT_EQ(LastJournalLine(), "StartAsyncInput bytes=6144 result=0 refused=no_callback");
  EXPECT_FALSE(device_->StartAsyncInput(0, &CountingCallback));
  EXPECT_FALSE(device_->StartAsyncInput(-6144, &CountingCallback));
  EXPECT_FALSE(device_->StartAsyncInput(0x7FFFFFFF, &CountingCallback));
  EXPECT_EQ(LastJournalLine(), "StartAsyncInput bytes=2147483647 result=0 refused=bad_size");
}

TEST_F(SimulatorStreamTest, StopWhileIdleChangesNothing) {
  EXPECT_TRUE(device_->StopAsyncInput());
  EXPECT_EQ(LastJournalLine(), "StopAsyncInput result=1 transfers=0");
}

TEST_F(SimulatorStreamTest, NoCallbackRunsOrFollowsOnceStopHasReturned) {
  Load(0);
  for (int cycle = 0; cycle < 40; ++cycle) {
    ASSERT_TRUE(Start(6144));
    // Slow callbacks, so that the stop mostly lands inside one.
    g_capture.pause_us = 300 + 50 * (cycle % 7);
    ASSERT_TRUE(WaitForCalls(1 + static_cast<std::uint64_t>(cycle % 3)));
    ASSERT_TRUE(device_->StopAsyncInput());
    EXPECT_FALSE(g_capture.inside) << "a callback was still running after the stop returned";
    const std::uint64_t calls = g_capture.calls;
    std::this_thread::sleep_for(std::chrono::milliseconds(2));
    EXPECT_EQ(g_capture.calls, calls) << "a callback came after the stop returned";
    EXPECT_EQ(static_cast<std::uint64_t>(journal_.Calls("StopAsyncInput").back().Number("transfers")), calls);
  }
  EXPECT_FALSE(g_capture.overlapped);
}

TEST_F(SimulatorStreamTest, StopFromInsideTheCallbackEndsTheStreamAfterThatCall) {
  Load(0);
  g_capture.Reset(6144);
  g_capture.stop_at_call = 5;
  g_capture.linger_after_stop_ms = 200;
  g_capture.thread_end_ms = 50;
  ASSERT_TRUE(device_->StartAsyncInput(6144, &CountingCallback));
  // The stop cannot wait for its own thread: it returns while the call goes on.
  ASSERT_TRUE(WaitUntil([] { return g_capture.inner_stop_returned.load(); }));
  std::this_thread::sleep_for(std::chrono::milliseconds(20));
  EXPECT_EQ(g_capture.calls, 5u);
  EXPECT_TRUE(g_capture.inner_start_refused);
  EXPECT_FALSE(g_capture.overlapped) << "a start from inside the callback was accepted";
  // The inner start may be journaled before the outer one returns.
  const auto starts = journal_.Calls("StartAsyncInput");
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts[0]["refused"] + starts[1]["refused"], "running");
  EXPECT_EQ(journal_.Calls("StopAsyncInput").at(0).Number("transfers"), 5);
  // The stream can start again at once, once the stopped thread has ended.
  ASSERT_TRUE(Start(6144));
  EXPECT_EQ(g_capture.threads_ended, 1);
  ASSERT_TRUE(WaitForCalls(3));
  ASSERT_TRUE(device_->StopAsyncInput());
  EXPECT_EQ(g_capture.wrong_pairs, 0u);
}

TEST_F(SimulatorStreamTest, StopAndCloseReturnOnlyOnceTheInputThreadHasEnded) {
  Load(0);
  g_capture.thread_end_ms = 50;
  for (int cycle = 1; cycle <= 6; ++cycle) {
    ASSERT_TRUE(Start(6144));
    ASSERT_TRUE(WaitForCalls(2));
    ASSERT_TRUE(cycle % 2 == 0 ? device_->Close() : device_->StopAsyncInput());
    EXPECT_EQ(g_capture.threads_ended, cycle);
  }
  EXPECT_EQ(g_capture.threads_called_back, 6);
}

TEST_F(SimulatorStreamTest, ThreadStoppedFromItsCallbackIsWaitedForByTheNextStopOrTheUnload) {
  Load(0);
  g_capture.thread_end_ms = 50;
  for (const bool unload : {false, true}) {
    g_capture.Reset(6144);
    g_capture.stop_at_call = 2;
    g_capture.linger_after_stop_ms = 200;
    ASSERT_TRUE(device_->StartAsyncInput(6144, &CountingCallback));
    ASSERT_TRUE(WaitUntil([] { return g_capture.inner_stop_returned.load(); }));
    if (unload) {
      device_.reset();
      loader_->Unload(handle_);
      handle_ = nullptr;
    } else {
      ASSERT_TRUE(device_->StopAsyncInput());
    }
    EXPECT_EQ(g_capture.threads_ended, unload ? 2 : 1) << (unload ? "unload" : "stop");
  }
}

TEST_F(SimulatorStreamTest, EachRestartBeginsThePatternAgain) {
  Load(1);
  for (int cycle = 0; cycle < 30; ++cycle) {
    ASSERT_TRUE(Start(12288));
    ASSERT_TRUE(WaitForCalls(2));
    ASSERT_TRUE(device_->StopAsyncInput());
    ASSERT_EQ(g_capture.wrong_pairs, 0u) << cycle;
  }
  EXPECT_EQ(journal_.Calls("StartAsyncInput").size(), 30u);
  EXPECT_EQ(journal_.Calls("StopAsyncInput").size(), 30u);
}

// How fast they come is the benchmarks' business: a busy machine only
// delays them.
TEST_F(SimulatorStreamTest, RealtimeTransfersNeverComeEarly) {
  Set("HALVORNSIM_PACING", "realtime");
  Load(4);  // one transfer every 8.192 ms
  const auto started = Clock::now();
  ASSERT_TRUE(Start(98304));
  std::this_thread::sleep_for(std::chrono::milliseconds(500));
  const std::uint64_t calls = g_capture.calls;
  const double elapsed_s = std::chrono::duration<double>(Clock::now() - started).count();
  ASSERT_TRUE(device_->StopAsyncInput());
  const double due = elapsed_s / 0.008192;
  EXPECT_LE(static_cast<double>(calls), due + 1.0);
  EXPECT_GT(calls, 0u);
  EXPECT_EQ(g_capture.wrong_pairs, 0u);
}

TEST_F(SimulatorStreamTest, UnpacedTransfersComeFasterThanRealTime) {
  Load(6);  // one transfer every 21.3 ms in real time
  const auto started = Clock::now();
  ASSERT_TRUE(Start(6144));
  ASSERT_TRUE(WaitForCalls(200));
  const double elapsed_s = std::chrono::duration<double>(Clock::now() - started).count();
  ASSERT_TRUE(device_->StopAsyncInput());
  // Paced, they would have taken 4.3 s.
  EXPECT_LT(elapsed_s, 200 * 0.0213);
}

TEST_F(SimulatorStreamTest, AStallHoldsTheInputBackOnceThenItGoesOn) {
  Set("HALVORNSIM_STALL", "50,400");
  Set("HALVORNSIM_PACING", "realtime");
  Load(0);  // one transfer every 8.192 ms
  ASSERT_TRUE(Start(6144));
  ASSERT_TRUE(WaitForCalls(20));
  ASSERT_TRUE(device_->StopAsyncInput());
  EXPECT_GE(g_capture.longest_gap_ms, 400);
  // The pattern runs on across the gap: what was held back is not resent.
  EXPECT_EQ(g_capture.wrong_pairs, 0u);
}

TEST_F(SimulatorStreamTest, AMalformedStallSettingStallsNothing) {
  for (const char* setting : {"400", "x,400", "20,", ",400", "20,400,5", "20;400"}) {
    Set("HALVORNSIM_STALL", setting);
    Load(6);
    ASSERT_TRUE(Start(6144)) << setting;
    ASSERT_TRUE(WaitForCalls(100)) << setting;
    ASSERT_TRUE(device_->StopAsyncInput());
    EXPECT_LT(g_capture.longest_gap_ms, 400) << setting;
  }
}

TEST_F(SimulatorStreamTest, CloseEndsARunningStream) {
  Load(0);
  ASSERT_TRUE(Start(6144));
  ASSERT_TRUE(WaitForCalls(3));
  ASSERT_TRUE(device_->Close());
  const std::uint64_t calls = g_capture.calls;
  EXPECT_FALSE(g_capture.inside);
  const auto close = journal_.Calls("Close").at(0);
  EXPECT_EQ(static_cast<std::uint64_t>(close.Number("transfers")), calls);
  std::this_thread::sleep_for(std::chrono::milliseconds(5));
  EXPECT_EQ(g_capture.calls, calls);
}

TEST_F(SimulatorStreamTest, AnInjectedStopFailureLeavesTheStreamRunning) {
  Load(0);
  ASSERT_TRUE(Start(6144));
  Set("HALVORNSIM_FAIL", "StopAsyncInput");
  EXPECT_FALSE(device_->StopAsyncInput());
  EXPECT_EQ(LastJournalLine(), "StopAsyncInput result=0 injected=fail");
  const std::uint64_t calls = g_capture.calls;
  ASSERT_TRUE(WaitForCalls(calls + 5));
  unsetenv("HALVORNSIM_FAIL");
  EXPECT_TRUE(device_->StopAsyncInput());
}

TEST_F(SimulatorStreamTest, UnpluggedTheInputFallsSilentAndTheDeviceFailsForTheRestOfTheLoad) {
  Set("HALVORNSIM_UNPLUG", "0.03");
  // The clock starts at the first StartAsyncInput, not at the load.
  std::this_thread::sleep_for(std::chrono::milliseconds(40));
  OpenAndStream();
  // Noticed by the input thread: no entry has been called since the start.
  ASSERT_TRUE(WaitUntil([this] { return JournalHas("Unplugged after_ms=30"); }));
  const std::uint64_t calls = g_capture.calls;
  EXPECT_GT(calls, 0u);
  std::this_thread::sleep_for(std::chrono::milliseconds(30));
  EXPECT_EQ(g_capture.calls, calls) << "the input called back after the unplug";
  EXPECT_FALSE(g_capture.inside);

  ExpectDeviceCallsRefused("unplugged");
  EXPECT_FALSE(device_->Open());
  EXPECT_EQ(LastJournalLine(), "Open result=0 refused=unplugged");
  EXPECT_EQ(device_->FirmwareDownload(nullptr), -1);
  EXPECT_EQ(LastJournalLine(), "FirmwareDownload image=null result=-1 refused=unplugged");
  // The input thread waits for a receiver that is gone; a stop still ends it.
  g_capture.thread_end_ms = 0;
  const auto stopping = Clock::now();
  EXPECT_TRUE(device_->StopAsyncInput());
  EXPECT_EQ(g_capture.threads_ended, 1);
  EXPECT_TRUE(device_->Close());
  EXPECT_LT(Clock::now() - stopping, std::chrono::seconds(2));
  EXPECT_EQ(static_cast<std::uint64_t>(journal_.Calls("StopAsyncInput").at(0).Number("transfers")), calls);
  EXPECT_EQ(LastJournalLine(), "Close result=1");

  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_FALSE(device_->Open());
  EXPECT_EQ(LastJournalLine(), "Open result=0 refused=unplugged");
  EXPECT_EQ(journal_.Calls("Unplugged").size(), 1u);
  EXPECT_TRUE(journal_.Calls("PluggedBack").empty());
}

TEST_F(SimulatorStreamTest, PluggedBackItNeedsACloseAnOpenAndItsFirmwareBeforeItStreamsAgain) {
  Set("HALVORNSIM_UNPLUG", "0.03:0.03");
  OpenAndStream();
  ASSERT_TRUE(WaitUntil([this] { return JournalHas("Unplugged after_ms=30"); }));
  const std::uint64_t calls = g_capture.calls;
  // Back, but the handle opened before the unplug is stale.
  std::set<std::string> open_refusals;
  ASSERT_TRUE(WaitUntil([&] {
    EXPECT_FALSE(device_->Open());
    open_refusals.insert(journal_.Calls("Open").back()["refused"]);
    return open_refusals.count("stale_handle") == 1;
  }));
  // A busy machine may first ask once it is back already.
  open_refusals.erase("unplugged");
  EXPECT_EQ(open_refusals, std::set<std::string>{"stale_handle"});
  EXPECT_EQ(g_capture.calls, calls) << "the stream of the stale handle called back";
  EXPECT_EQ(device_->FirmwareDownload(nullptr), -1);
  EXPECT_EQ(LastJournalLine(), "FirmwareDownload image=null result=-1 refused=stale_handle");
  ExpectDeviceCallsRefused("no_firmware");

  ASSERT_TRUE(device_->Close());
  EXPECT_EQ(static_cast<std::uint64_t>(journal_.Calls("Close").at(0).Number("transfers")), calls);
  EXPECT_EQ(device_->FirmwareDownload(nullptr), -1);
  EXPECT_EQ(LastJournalLine(), "FirmwareDownload image=null result=-1 refused=not_open");
  ASSERT_TRUE(device_->Open());
  ExpectDeviceCallsRefused("no_firmware");
  ASSERT_EQ(device_->FirmwareDownload(nullptr), 0);
  // A freshly opened receiver: no bitstream until one is loaded.
  EXPECT_FALSE(Start(6144));
  EXPECT_EQ(LastJournalLine(), "StartAsyncInput bytes=6144 result=0 refused=no_bitstream");
  Load(0);
  ASSERT_TRUE(Start(6144));
  ASSERT_TRUE(WaitForCalls(20));
  ASSERT_TRUE(device_->StopAsyncInput());
  EXPECT_EQ(g_capture.wrong_pairs, 0u);

  std::vector<std::string> changes;
  for (const auto& line : journal_.Lines()) {
    if (line.entry == "Unplugged" || line.entry == "PluggedBack") changes.push_back(line.entry);
  }
  EXPECT_EQ(changes, (std::vector<std::string>{"Unplugged", "PluggedBack"}));
  EXPECT_TRUE(JournalHas("PluggedBack gone_ms=30"));
}

TEST_F(SimulatorStreamTest, AReceiverClosedWhileUnpluggedOpensAtOnceWhenBack) {
  Set("HALVORNSIM_UNPLUG", "0:0.03");
  ASSERT_TRUE(device_->Open());
  ASSERT_EQ(device_->FirmwareDownload(nullptr), 0);
  Load(0);
  // Gone from the first start on: that start is refused.
  EXPECT_FALSE(Start(6144));
  EXPECT_EQ(JournalText().at(3), "Unplugged after_ms=0");
  EXPECT_EQ(LastJournalLine(), "StartAsyncInput bytes=6144 result=0 refused=unplugged");
  ASSERT_TRUE(device_->Close());
  ASSERT_TRUE(WaitUntil([this] { return device_->Open(); }));
  // Closed while away, it had no stale handle to refuse an Open for.
  for (const auto& open : journal_.Calls("Open")) {
    EXPECT_TRUE(open["result"] == "1" || open["refused"] == "unplugged") << open["refused"];
  }
  ASSERT_EQ(device_->FirmwareDownload(nullptr), 0);
  Load(0);
  ASSERT_TRUE(Start(6144));
  ASSERT_TRUE(WaitForCalls(5));
  ASSERT_TRUE(device_->StopAsyncInput());
}

TEST_F(SimulatorStreamTest, AMalformedUnplugSettingNeverUnplugs) {
  Load(6);
  for (const char* setting : {"", "x", "0.01s", ".01", "0.", "-0.01", "0.01:", ":0.01", "0.01:0.01:0.01", "0,01",
                              "1e-2", " 0.01"}) {
    Set("HALVORNSIM_UNPLUG", setting);
    const auto started = Clock::now();
    ASSERT_TRUE(Start(6144)) << '"' << setting << '"';
    ASSERT_TRUE(WaitUntil([started] {
      return Clock::now() - started > std::chrono::milliseconds(30) && g_capture.calls >= 10;
    })) << '"' << setting << '"';
    ASSERT_TRUE(device_->StopAsyncInput());
  }
  EXPECT_TRUE(journal_.Calls("Unplugged").empty());
  EXPECT_TRUE(device_->Open());
}

TEST_F(SimulatorStreamTest, EntriesCalledFromManyThreadsWhileStreaming) {
  Load(4);
  auto sio = Entry<device::SioFn>("Sio");
  auto set_attenuator = Entry<device::SetAttenuatorFn>("SetAttenuator");
  auto set_preselector = Entry<device::SetPreselectorFn>("SetPreselector");
  auto fpga_config = Entry<device::FpgaConfigFn>("FpgaConfig");
  auto start = Entry<device::StartAsyncInputFn>("StartAsyncInput");
  auto stop = Entry<device::StopAsyncInputFn>("StopAsyncInput");
  g_capture.Reset(6144);
  std::atomic<bool> done{false};
  std::vector<std::thread> threads;
  threads.emplace_back([&] {
    for (std::uint32_t i = 0; !done; ++i) {
      std::uint8_t record[5] = {static_cast<std::uint8_t>(i & 7), static_cast<std::uint8_t>(i), 0, 0x10, 0};
      sio(record, 5);
      set_attenuator(i % 4);
      set_preselector(static_cast<std::int32_t>(i % 11));
    }
  });
  threads.emplace_back([&] {
    for (std::size_t i = 0; !done; ++i) {
      const auto& row = receiver::kSampleRateTable[i % 5];
      fpga_config(row.bitstream_name, row.descriptor);
    }
  });
  // Two threads start and stop the one stream against each other.
  for (int t = 0; t < 2; ++t) {
    threads.emplace_back([&] {
      for (int i = 0; i < 100; ++i) {
        start(6144, &CountingCallback, 0);
        std::this_thread::yield();
        stop();
      }
    });
  }
  threads[3].join();
  threads[2].join();
  done = true;
  threads[1].join();
  threads[0].join();
  EXPECT_FALSE(g_capture.overlapped);
  EXPECT_FALSE(g_capture.inside);
}

}  // namespace
}  // namespace halvorn::simulator

namespace halvorn::simulator {
namespace {

std::atomic<std::int64_t> g_stamp_behind_ns{-1};
std::atomic<std::uint64_t> g_stamped_calls{0};
std::atomic<bool> g_rest_counts{true};

bool HALVORN_STDCALL StampCallback(std::uint8_t* transfer, void*) {
  const std::int64_t now = std::chrono::duration_cast<std::chrono::nanoseconds>(
                               std::chrono::steady_clock::now().time_since_epoch())
                               .count();
  std::int64_t stamp = 0;
  for (int byte = 0; byte < 8; ++byte) stamp |= static_cast<std::int64_t>(transfer[byte]) << (8 * byte);
  g_stamp_behind_ns = std::max<std::int64_t>(g_stamp_behind_ns.load(), now - stamp);
  // Everything after the stamp is the stream as usual.
  if (ReadCountingPair(transfer + 12) != g_stamped_calls * 1024 + 2) g_rest_counts = false;
  ++g_stamped_calls;
  return true;
}

TEST_F(SimulatorStreamTest, StampedTransfersCarryTheMomentOfTheirHandOver) {
  Set("HALVORNSIM_STAMP", "1");
  Load(0);
  g_stamp_behind_ns = -1;
  g_stamped_calls = 0;
  ASSERT_TRUE(device_->StartAsyncInput(6144, &StampCallback));
  const auto give_up = Clock::now() + std::chrono::seconds(60);
  while (g_stamped_calls < 50 && Clock::now() < give_up) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(device_->StopAsyncInput());
  ASSERT_GE(g_stamped_calls.load(), 50u);
  // Taken just before the call: never in the future, never long ago.
  EXPECT_GE(g_stamp_behind_ns.load(), 0);
  EXPECT_LT(g_stamp_behind_ns.load(), 1000000000);
  EXPECT_TRUE(g_rest_counts.load());
}

}  // namespace
}  // namespace halvorn::simulator

// The stream from the library's transfers to the host's blocks: the test plays
// the device library's input thread through the real binding and watches what
// the host callback and the recorder receive.
#include <gtest/gtest.h>

#include <chrono>
#include <condition_variable>
#include <functional>
#include <thread>

#include "receiver/sample_rate_table.h"
#include "simulator/counting_pattern.h"
#include "streaming/sample_stream.h"
#include "tests/support/counting_host.h"
#include "tests/support/fake_device.h"
#include "tests/support/forwarding_kit.h"
#include "tests/support/native_module.h"
#include "tests/support/sanitizers.h"

namespace halvorn::streaming {
namespace {

using testing::CountingHost;
using testing::FakeDevice;
using Strings = std::vector<std::string>;

// The platform's resources, counted, with failures on request.
class CountingKit : public testing::ForwardingKit {
 public:
  class CountedEvent : public WakeEvent {
   public:
    CountedEvent(std::unique_ptr<WakeEvent> real, CountingKit& owner) : real_(std::move(real)), owner_(owner) {}
    ~CountedEvent() override { --owner_.live_events; }
    void Signal() override {
      ++owner_.signals;
      real_->Signal();
    }
    bool Wait(std::uint32_t timeout_ms) override {
      const bool signalled = real_->Wait(timeout_ms);
      if (!signalled) ++owner_.timeouts;
      return signalled;
    }
    bool WaitServingSentMessages(std::uint32_t timeout_ms) override {
      const bool signalled = real_->WaitServingSentMessages(timeout_ms);
      if (!signalled) ++owner_.timeouts;
      return signalled;
    }

   private:
    std::unique_ptr<WakeEvent> real_;
    CountingKit& owner_;
  };

  std::unique_ptr<WakeEvent> CreateWakeEvent() override {
    if (fail_event) return nullptr;
    ++live_events;
    return std::make_unique<CountedEvent>(ForwardingKit::CreateWakeEvent(), *this);
  }
  std::unique_ptr<WorkerThread> StartWorker(Procedure procedure, void* argument) override {
    if (fail_thread) return nullptr;
    ++threads_started;
    return ForwardingKit::StartWorker(procedure, argument);
  }
  void* Allocate(std::size_t bytes) override {
    if (fail_allocation) return nullptr;
    ++live_rings;
    return ForwardingKit::Allocate(bytes);
  }
  void Free(void* memory) override {
    --live_rings;
    ForwardingKit::Free(memory);
  }

  std::atomic<int> threads_started{0}, live_events{0}, live_rings{0}, signals{0}, timeouts{0};
  bool fail_event = false, fail_thread = false, fail_allocation = false;
};

// Plays the device library's input thread: counting-pattern transfers of the
// announced size, one call at a time, until stopped or `transfers` are sent.
// Like a receiver that is not much faster than its host, it can hold back
// while the host is `lead` blocks behind.
class InputThread {
 public:
  using DeliveredBlocks = std::function<std::uint64_t()>;
  explicit InputThread(
      std::uint64_t transfers = UINT64_MAX, int transfer_bytes_override = 0, std::uint64_t lead_blocks = UINT64_MAX,
      DeliveredBlocks delivered = [] { return CountingHost::Instance().blocks(); })
      : limit_(transfers),
        override_bytes_(transfer_bytes_override),
        lead_blocks_(lead_blocks),
        delivered_(std::move(delivered)) {
    FakeDevice::Instance().on_start_input = [this](std::int32_t bytes, device::TransferCallbackFn callback) {
      Start(override_bytes_ ? override_bytes_ : bytes, callback);
    };
    FakeDevice::Instance().on_stop_input = [this] { Stop(); };
  }
  ~InputThread() {
    Stop();
    FakeDevice::Instance().on_start_input = nullptr;
    FakeDevice::Instance().on_stop_input = nullptr;
  }

  std::uint64_t sent() const { return sent_.load(); }
  void Allow(std::uint64_t transfers) { limit_ = transfers; }
  void WaitUntilSent(std::uint64_t transfers) const {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(testing::kSanitized ? 200 : 60);
    while (sent_.load() < transfers) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "the plug-in stopped taking transfers";
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }

 private:
  void Start(int bytes, device::TransferCallbackFn callback) {
    Stop();
    stop_ = false;
    sent_ = 0;
    thread_ = std::thread([this, bytes, callback] {
      std::vector<std::uint8_t> transfer(static_cast<size_t>(bytes));
      std::uint64_t pair = 0;
      std::uint8_t carry[6];
      size_t carried = 0;
      while (!stop_) {
        const bool host_behind =
            lead_blocks_ != UINT64_MAX &&
            (sent_ + 1) * transfer.size() > (delivered_() + lead_blocks_) * 6144;
        if (sent_ >= limit_ || host_behind) {
          std::this_thread::sleep_for(std::chrono::microseconds(200));
          continue;
        }
        // Bytes of the pattern in order, even when a transfer splits a pair.
        size_t filled = 0;
        while (filled < transfer.size()) {
          if (carried == 0) {
            simulator::WriteCountingPair(pair++, carry);
            carried = 6;
          }
          transfer[filled++] = carry[6 - carried--];
        }
        callback(transfer.data(), nullptr);
        ++sent_;
      }
    });
  }
  void Stop() {
    stop_ = true;
    if (thread_.joinable()) thread_.join();
  }

  std::atomic<std::uint64_t> limit_;
  const int override_bytes_;
  const std::uint64_t lead_blocks_;
  const DeliveredBlocks delivered_;
  std::atomic<bool> stop_{false};
  std::atomic<std::uint64_t> sent_{0};
  std::thread thread_;
};

class RecordingSink : public BlockSink {
 public:
  void WriteBlock(const std::uint8_t* data, std::int32_t pair_count) override {
    EXPECT_EQ(pair_count, 1024);
    checker.Check(data, pair_count);
  }
  void BlocksLost(std::uint64_t blocks) override { lost += blocks; }
  host::CountingPatternChecker checker;
  std::atomic<std::uint64_t> lost{0};
};

class StreamTest : public ::testing::Test {
 protected:
  StreamTest() {
    FakeDevice::Instance().Reset();
    CountingHost::Instance().Reset();
    CountingHost::Instance().set_check_counting(true);
  }
  ~StreamTest() override {
    stream().StopAsyncProcessing();
    CountingHost::Instance().SetBlockObserver(nullptr, nullptr);
    CountingHost::Instance().set_check_counting(false);
  }
  void SetUp() override {
    ASSERT_TRUE(module_.Init());
    module_.plugin().SetCallback(&CountingHost::Callback);
    FakeDevice::Instance().Reset();
  }

  SampleStream& stream() { return module_.plugin().stream(); }
  template <typename Done>
  static void WaitUntil(Done&& done) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!done()) {
      ASSERT_LT(std::chrono::steady_clock::now(), deadline) << "blocks stopped arriving";
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
  }
  static void WaitForBlocks(std::uint64_t blocks) {
    WaitUntil([blocks] { return CountingHost::Instance().blocks() >= blocks; });
  }

  CountingKit* resources_ = new CountingKit;
  testing::NativeModule module_{"", std::make_unique<testing::FakeDeviceLoader>(),
                                std::unique_ptr<PlatformKit>(resources_)};
};

TEST_F(StreamTest, EachRowAsksForItsTransferSizeAndSetsTheStreamingBit) {
  for (int row = 0; row < receiver::kSampleRateCount; ++row) {
    FakeDevice::Instance().Reset();
    module_.trace.Clear();
    stream().StartAsyncProcessingExt(row, nullptr);
    stream().StopAsyncProcessing();
    const auto calls = FakeDevice::Instance().calls();
    ASSERT_EQ(FakeDevice::Instance().entries(), (Strings{"StartAsyncInput", "Sio", "StopAsyncInput", "Sio"}));
    const int expected_bytes = receiver::kSampleRateTable[row].packets_per_transfer * 6144;
    EXPECT_EQ(calls[0].value, expected_bytes) << row;
    EXPECT_EQ(calls[1].bytes[0] & 1, 1);
    EXPECT_EQ(calls[3].bytes[0] & 1, 0);
    EXPECT_EQ(module_.trace.texts(),
              (Strings{"StartAsyncProcessingExt...", "SRId:" + std::to_string(row),
                       "NumPackets:" + std::to_string(receiver::kSampleRateTable[row].packets_per_transfer),
                       "BytesPerTransfer:" + std::to_string(expected_bytes), "StartAsyncProcessing...",
                       "Buffer allocated...", "BufferReadyProc Thread started...",
                       "Halvorn AsyncInput started...", "Blocks dropped: 0"}));
  }
  EXPECT_EQ(resources_->live_rings, 0);
  EXPECT_EQ(resources_->live_events, 0);
}

TEST_F(StreamTest, TransfersReachTheHostAsWholeBlocksInOrderOnTheDeliveryThread) {
  InputThread input(1000, 0, 256);
  RecordingSink recorder;
  stream().StartAsyncProcessingExt(4, &recorder);  // 16 blocks per transfer
  input.WaitUntilSent(1000);
  WaitForBlocks(16000);
  // The recorder has each block after the host: a stop between the two leaves
  // that block out of the file, so the stop waits for the recorder's last.
  WaitUntil([&recorder] { return recorder.checker.pairs_checked() >= 16000u * 1024; });
  stream().StopAsyncProcessing();
  auto& recorded = CountingHost::Instance();
  EXPECT_EQ(recorded.blocks(), 16000u);
  EXPECT_EQ(recorded.malformed_blocks(), 0u);
  EXPECT_EQ(recorded.pairs_checked(), 16000u * 1024);
  EXPECT_EQ(recorded.missing_pairs(), 0u);
  EXPECT_EQ(recorded.out_of_order_pairs(), 0u);
  EXPECT_EQ(recorded.torn_blocks(), 0u);
  EXPECT_NE(recorded.block_thread(), std::this_thread::get_id());
  // The recorder got the same blocks after the host.
  EXPECT_EQ(recorder.checker.pairs_checked(), 16000u * 1024);
  EXPECT_EQ(recorder.checker.pairs_missing(), 0u);
  EXPECT_EQ(stream().dropped_blocks(), 0u);
  // The consumer is woken at most once per transfer, however many blocks it
  // completes; the stop's wake-up and the thread's exit signal come on top.
  EXPECT_LE(resources_->signals.load(), 1000 + 2);
}

TEST_F(StreamTest, TransfersThatAreNotWholeBlocksAreReassembledInArrivalOrder) {
  for (int transfer_bytes : {1000, 6143, 6145, 7, 12289}) {
    CountingHost::Instance().Reset();
    CountingHost::Instance().set_check_counting(true);
    const std::uint64_t transfers = 40000 / transfer_bytes + 20;
    InputThread input(transfers, transfer_bytes, 256);
    stream().StartAsyncProcessing(transfer_bytes, kBlockBytes, kSlotCount, nullptr);
    input.WaitUntilSent(transfers);
    const std::uint64_t whole_blocks = transfers * transfer_bytes / 6144;
    WaitForBlocks(whole_blocks);
    stream().StopAsyncProcessing();
    auto& recorded = CountingHost::Instance();
    EXPECT_EQ(recorded.blocks(), whole_blocks) << transfer_bytes;
    EXPECT_EQ(recorded.first_pair(), 0u);
    EXPECT_EQ(recorded.missing_pairs(), 0u) << transfer_bytes;
    EXPECT_EQ(recorded.torn_blocks(), 0u) << transfer_bytes;
  }
}

// A rate changed under a running stream: the input stops, the whole block
// already received reaches the host, the half one is dropped, and the input
// starts again with the new row's transfers, on the same delivery thread. A
// device that will not stop its input keeps streaming as it was.
TEST_F(StreamTest, ARestartForANewRateDeliversEachStreamInWholeBlocksOnTheSameThread) {
  InputThread input(3);
  ASSERT_EQ(stream().StartAsyncProcessing(3072, kBlockBytes, kSlotCount, nullptr), StreamStart::kStarted);
  input.WaitUntilSent(3);
  WaitForBlocks(1);
  const std::thread::id delivery_thread = CountingHost::Instance().block_thread();
  FakeDevice::Instance().SetResult("StopAsyncInput", 0);
  int reconfigured = 0;
  const auto to_row_one = [&] {
    ++reconfigured;
    return 1;
  };
  EXPECT_EQ(stream().RestartAround(to_row_one), receiver::InputRestart::kStopRefused);
  EXPECT_EQ(reconfigured, 0);
  FakeDevice::Instance().SetResult("StopAsyncInput", 1);

  EXPECT_EQ(stream().RestartAround(to_row_one), receiver::InputRestart::kRestarted);
  EXPECT_EQ(reconfigured, 1);
  const auto starts = FakeDevice::Instance().calls("StartAsyncInput");
  ASSERT_EQ(starts.size(), 2u);
  EXPECT_EQ(starts.back().value, 12288);
  input.WaitUntilSent(3);  // six blocks of the new stream
  WaitForBlocks(7);
  auto& host = CountingHost::Instance();
  EXPECT_EQ(host.streams(), 2u);
  EXPECT_EQ(host.torn_blocks(), 0u);
  EXPECT_EQ(host.missing_pairs(), 0u);
  EXPECT_EQ(host.block_thread(), delivery_thread);
  EXPECT_EQ(stream().RestartAround(to_row_one), receiver::InputRestart::kRestarted);
  stream().StopAsyncProcessing();
  EXPECT_EQ(stream().RestartAround(to_row_one), receiver::InputRestart::kNotRunning);
  EXPECT_EQ(reconfigured, 2);
}

TEST_F(StreamTest, ASecondStartChangesNothing) {
  stream().StartAsyncProcessingExt(0, nullptr);
  stream().StartAsyncProcessingExt(4, nullptr);
  EXPECT_EQ(resources_->threads_started, 1);
  EXPECT_EQ(resources_->live_rings, 1);
  const auto starts = FakeDevice::Instance().calls("StartAsyncInput");
  ASSERT_EQ(starts.size(), 1u);
  EXPECT_EQ(starts[0].value, 6144);
  // A second StartHW only retunes.
  FakeDevice::Instance().Reset();
  module_.plugin().OpenHW();
  FakeDevice::Instance().Reset();
  EXPECT_EQ(module_.plugin().StartHW(7050000), 1024);
  EXPECT_EQ(FakeDevice::Instance().entries(), (Strings{"Sio", "SetPreselector"}));
}

TEST_F(StreamTest, AStopWhileIdleSendsNothing) {
  stream().StopAsyncProcessing();
  module_.plugin().StopHW();
  EXPECT_TRUE(FakeDevice::Instance().calls().empty());
}

TEST_F(StreamTest, WithoutAHostCallbackBlocksStillReachTheRecorder) {
  module_.plugin().SetCallback(nullptr);
  RecordingSink recorder;
  // More than the ring holds: it must keep draining.
  InputThread input(600, 0, 256, [&recorder] { return recorder.checker.pairs_checked() / 1024; });
  stream().StartAsyncProcessingExt(0, &recorder);
  input.WaitUntilSent(600);
  while (recorder.checker.pairs_checked() < 600u * 1024) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  stream().StopAsyncProcessing();
  EXPECT_EQ(recorder.checker.pairs_missing(), 0u);
  EXPECT_EQ(CountingHost::Instance().blocks(), 0u);
}

TEST_F(StreamTest, NothingIsDeliveredAfterStopReturnsAndTheThreadIsWokenNotWaitedOut) {
  InputThread input;  // streams until stopped
  stream().StartAsyncProcessingExt(1, nullptr);
  WaitForBlocks(2000);
  stream().StopAsyncProcessing();
  const std::uint64_t delivered = CountingHost::Instance().blocks();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(CountingHost::Instance().blocks(), delivered);
  EXPECT_EQ(resources_->live_rings, 0);
  // The delivery thread never waited out its one-second wait.
  EXPECT_EQ(resources_->timeouts, 0);
  EXPECT_EQ(CountingHost::Instance().torn_blocks(), 0u);
  EXPECT_EQ(CountingHost::Instance().out_of_order_pairs(), 0u);
}

// Host callbacks that call back into the plug-in.
std::atomic<Module*> g_plugin{nullptr};
std::atomic<int> g_stops_from_callback{0};
void StopFromCallback(const std::uint8_t*, void*) {
  if (g_stops_from_callback++ == 0) g_plugin.load()->StopHW();
}

TEST_F(StreamTest, StopHwFromInsideTheCallbackReturnsAndEndsTheStream) {
  g_plugin = &module_.plugin();
  g_stops_from_callback = 0;
  CountingHost::Instance().SetBlockObserver(&StopFromCallback, nullptr);
  InputThread input;
  module_.plugin().StartHW(7050000);
  while (module_.plugin().stream().IsStreaming()) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  const std::uint64_t delivered = CountingHost::Instance().blocks();
  std::this_thread::sleep_for(std::chrono::milliseconds(50));
  EXPECT_EQ(CountingHost::Instance().blocks(), delivered);
  // The thread freed what it held once it left the callback.
  while (resources_->live_rings != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(resources_->live_events, 0);
  // And the plug-in streams again.
  CountingHost::Instance().SetBlockObserver(nullptr, nullptr);
  module_.plugin().StartHW(7050000);
  WaitForBlocks(delivered + 100);
  module_.plugin().StopHW();
}

std::atomic<bool> g_release_stalled_host{false};
void StallUntilReleased(const std::uint8_t*, void*) {
  while (!g_release_stalled_host) std::this_thread::sleep_for(std::chrono::milliseconds(1));
}

TEST_F(StreamTest, AStalledHostMakesThePlugInDropWholeBlocksNeverTearThem) {
  g_release_stalled_host = false;
  CountingHost::Instance().SetBlockObserver(&StallUntilReleased, nullptr);
  InputThread input(2000);  // 2000 blocks against a ring of 512
  stream().StartAsyncProcessingExt(0, nullptr);
  input.WaitUntilSent(2000);
  // Everything the ring could not take was dropped: the held slot and 511 more wait.
  const std::uint64_t dropped = stream().dropped_blocks();
  EXPECT_EQ(dropped, 2000u - 512);
  g_release_stalled_host = true;
  WaitForBlocks(512);
  // The stream goes on at a block boundary after the gap.
  input.Allow(2100);
  WaitForBlocks(612);
  stream().StopAsyncProcessing();
  auto& recorded = CountingHost::Instance();
  EXPECT_EQ(recorded.blocks() + dropped, 2100u);
  EXPECT_EQ(recorded.missing_pairs(), dropped * 1024);
  EXPECT_EQ(recorded.out_of_order_pairs(), 0u);
  EXPECT_EQ(recorded.torn_blocks(), 0u);
}

TEST_F(StreamTest, AStopWaitsForAStalledHostOnlyBoundedly) {
  g_release_stalled_host = false;
  CountingHost::Instance().SetBlockObserver(&StallUntilReleased, nullptr);
  InputThread input(10);
  stream().StartAsyncProcessingExt(0, nullptr);
  WaitForBlocks(1);  // the host now sits in its callback
  stream().StopAsyncProcessing();
  EXPECT_FALSE(stream().IsStreaming());
  g_release_stalled_host = true;
  // Once the host lets go, the delivery thread frees what it held and delivers nothing more.
  while (resources_->live_rings != 0) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  EXPECT_EQ(CountingHost::Instance().blocks(), 1u);
}

TEST_F(StreamTest, FailuresToGetResourcesLeaveTheStreamIdleWithNothingHeld) {
  for (int failure = 0; failure < 3; ++failure) {
    FakeDevice::Instance().Reset();
    resources_->fail_allocation = failure == 0;
    resources_->fail_event = failure == 1;
    resources_->fail_thread = failure == 2;
    module_.plugin().StartHW(7050000);
    EXPECT_FALSE(stream().IsStreaming()) << failure;
    EXPECT_TRUE(FakeDevice::Instance().calls("StartAsyncInput").empty()) << failure;
    EXPECT_EQ(resources_->live_rings, 0) << failure;
    EXPECT_EQ(resources_->live_events, 0) << failure;
    module_.plugin().StopHW();
    EXPECT_TRUE(FakeDevice::Instance().calls("StopAsyncInput").empty()) << failure;
  }
  // Once the fault is gone the stream works.
  resources_->fail_allocation = resources_->fail_event = resources_->fail_thread = false;
  InputThread input(10);
  module_.plugin().StartHW(7050000);
  WaitForBlocks(10);
  module_.plugin().StopHW();
}

TEST_F(StreamTest, HundredsOfStartsAndStopsLeaveNothingBehind) {
  InputThread input;
  for (int i = 0; i < 300; ++i) {
    module_.plugin().StartHW(7050000);
    module_.plugin().StopHW();
  }
  EXPECT_EQ(resources_->threads_started, 300);
  EXPECT_EQ(resources_->live_rings, 0);
  EXPECT_EQ(resources_->live_events, 0);
}

}  // namespace
}  // namespace halvorn::streaming

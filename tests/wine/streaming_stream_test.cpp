// The stream through the real DLL: the simulated receiver's transfers at every
// rate arrive at the host as whole 1024-pair blocks, in order, and stop when
// the host says so; the signal scene shows where the receiver is tuned.
#include <cmath>
#include <complex>
#include <numbers>
#include <vector>

#include "panel/control_ids.h"
#include "receiver/sample_rate_table.h"
#include "tests/wine/panel_fixture.h"

namespace halvorn::wine_tests {
namespace {

class StreamingTest : public PanelTest {
 protected:
  void SetUp() override {
    PanelTest::SetUp();
    SetSimulator("HALVORNSIM_SOURCE", "counting");
    OpenReceiver();
    callback_.set_check_counting(true);
  }
  void TearDown() override {
    callback_.SetBlockObserver(nullptr, nullptr);
    callback_.set_check_counting(false);
    PanelTest::TearDown();
  }
  void Click(int id) { SendMessageA(Control(id), BM_CLICK, 0, 0); }
  bool WaitForBlocks(std::uint64_t blocks, DWORD timeout_ms = 10000) {
    return PumpUntil([&] { return callback_.blocks() >= blocks; }, timeout_ms);
  }
  void ExpectEveryPairOnceInOrder() {
    EXPECT_EQ(callback_.malformed_blocks(), 0u);
    EXPECT_EQ(callback_.first_pair(), 0u);
    EXPECT_EQ(callback_.missing_pairs(), 0u);
    EXPECT_EQ(callback_.out_of_order_pairs(), 0u);
    EXPECT_EQ(callback_.torn_blocks(), 0u);
  }
};

TEST_F(StreamingTest, EveryRateStreamsWholeOrderedBlocksBetweenItsStreamingBits) {
  for (int index = 0; index < receiver::kSampleRateCount; ++index) {
    const receiver::SampleRateRow& row = receiver::kSampleRateTable[static_cast<std::size_t>(index)];
    SCOPED_TRACE(row.rate_hz);
    callback_.Reset();
    callback_.set_check_counting(true);
    Click(panel::RateButtonFor(index));
    const size_t before = JournalLength();
    EXPECT_EQ(plugin_->StartHW(7050000), 1024);
    EXPECT_EQ(plugin_->GetHWSR(), row.rate_hz);
    ASSERT_TRUE(WaitForBlocks(40));
    plugin_->StopHW();
    const std::uint64_t delivered = callback_.blocks();
    host::PumpMessagesFor(60);
    EXPECT_EQ(callback_.blocks(), delivered) << "blocks after StopHW returned";
    ExpectEveryPairOnceInOrder();
    EXPECT_NE(callback_.block_thread(), std::this_thread::get_id());

    const auto starts = CallsSince(before, "StartAsyncInput");
    ASSERT_EQ(starts.size(), 1u);
    EXPECT_EQ(starts[0]["bytes"], std::to_string(row.bytes_per_transfer()));
    const auto records = CallsSince(before, "Sio");
    ASSERT_GE(records.size(), 3u);
    EXPECT_EQ(records[records.size() - 2]["streaming"], "1");
    EXPECT_EQ(records.back()["streaming"], "0");
    // The record with the bit set follows the start, the cleared one the stop.
    const auto lines = journal_.Lines();
    std::vector<std::string> tail;
    for (size_t i = before; i < lines.size(); ++i) tail.push_back(lines[i].entry);
    EXPECT_EQ(std::vector<std::string>(tail.end() - 4, tail.end()),
              (std::vector<std::string>{"StartAsyncInput", "Sio", "StopAsyncInput", "Sio"}));
  }
}

TEST_F(StreamingTest, ASecondStartOnlyRetunesAndAStopWhileIdleSendsNothing) {
  plugin_->StopHW();
  EXPECT_TRUE(journal_.Calls("StopAsyncInput").empty());
  const size_t idle = JournalLength();
  plugin_->StopHW();
  EXPECT_EQ(JournalLength(), idle);

  plugin_->StartHW(7050000);
  ASSERT_TRUE(WaitForBlocks(10));
  const size_t before = JournalLength();
  EXPECT_EQ(plugin_->StartHW(3600000), 1024);
  EXPECT_TRUE(CallsSince(before, "StartAsyncInput").empty());
  EXPECT_EQ(CallsSince(before, "Sio").back()["streaming"], "1");
  ASSERT_TRUE(WaitForBlocks(callback_.blocks() + 20));
  plugin_->StopHW();
  ExpectEveryPairOnceInOrder();
}

std::atomic<host::ExtIoPlugin*> g_plugin{nullptr};
std::atomic<int> g_callback_stops{0};
void StopFromInsideTheCallback(const std::uint8_t*, void*) {
  if (g_callback_stops++ == 5) g_plugin.load()->StopHW();
}

TEST_F(StreamingTest, StopHwFromInsideTheCallbackReturnsAndTheStreamEnds) {
  g_plugin = plugin_.get();
  g_callback_stops = 0;
  callback_.SetBlockObserver(&StopFromInsideTheCallback, nullptr);
  plugin_->StartHW(7050000);
  ASSERT_TRUE(PumpUntil([] { return g_callback_stops.load() > 5; }, 10000));
  ASSERT_TRUE(PumpUntil([&] { return journal_.Calls("StopAsyncInput").size() == 1; }, 5000));
  const std::uint64_t delivered = callback_.blocks();
  host::PumpMessagesFor(100);
  EXPECT_EQ(callback_.blocks(), delivered);
  EXPECT_EQ(journal_.Calls("Sio").back()["streaming"], "0");
  // And it streams again afterwards.
  callback_.SetBlockObserver(nullptr, nullptr);
  callback_.Reset();
  callback_.set_check_counting(true);
  plugin_->StartHW(7050000);
  ASSERT_TRUE(WaitForBlocks(20));
  plugin_->StopHW();
  ExpectEveryPairOnceInOrder();
}

std::atomic<bool> g_release_host{false};
void StallOnce(const std::uint8_t*, void*) {
  while (!g_release_host) Sleep(1);
}

TEST_F(StreamingTest, AStalledHostLosesWholeBlocksNeverTornOrReordered) {
  SetSimulator("HALVORNSIM_PACING", "unpaced");
  g_release_host = false;
  callback_.SetBlockObserver(&StallOnce, nullptr);
  Click(panel::RateButtonFor(4));  // 16 blocks per transfer
  plugin_->StartHW(7050000);
  ASSERT_TRUE(PumpUntil([&] { return callback_.blocks() >= 1; }, 5000));
  host::PumpMessagesFor(300);  // the ring fills and overflows meanwhile
  callback_.SetBlockObserver(nullptr, nullptr);
  g_release_host = true;
  ASSERT_TRUE(WaitForBlocks(2000));
  plugin_->StopHW();
  EXPECT_GT(callback_.missing_pairs(), 0u);
  EXPECT_EQ(callback_.missing_pairs() % 1024, 0u);
  EXPECT_EQ(callback_.out_of_order_pairs(), 0u);
  EXPECT_EQ(callback_.torn_blocks(), 0u);
  EXPECT_EQ(callback_.malformed_blocks(), 0u);
}

TEST_F(StreamingTest, HundredsOfStartsAndStopsNeverHang) {
  SetSimulator("HALVORNSIM_PACING", "unpaced");
  for (int i = 0; i < 200; ++i) {
    plugin_->StartHW(7050000);
    if (i % 10 == 0) host::PumpMessagesFor(1);
    plugin_->StopHW();
  }
  EXPECT_EQ(journal_.Calls("StartAsyncInput").size(), 200u);
  EXPECT_EQ(journal_.Calls("StopAsyncInput").size(), 200u);
  EXPECT_EQ(journal_.Calls("Sio").back()["streaming"], "0");
  EXPECT_EQ(callback_.torn_blocks(), 0u);
}

// Collects the first `pairs` pairs the host receives, as complex samples.
class Capture {
 public:
  explicit Capture(size_t pairs) : samples_(pairs) {}
  static void Observe(const std::uint8_t* block, void* self_pointer) {
    auto& self = *static_cast<Capture*>(self_pointer);
    for (int i = 0; i < 1024 && self.filled_ < self.samples_.size(); ++i) {
      const std::uint8_t* pair = block + 6 * i;
      const auto component = [](const std::uint8_t* b) {
        return static_cast<double>(static_cast<std::int32_t>(static_cast<std::uint32_t>(b[0]) << 8 |
                                                             static_cast<std::uint32_t>(b[1]) << 16 |
                                                             static_cast<std::uint32_t>(b[2]) << 24) >>
                                   8);
      };
      self.samples_[self.filled_++] = {component(pair), component(pair + 3)};
    }
  }
  bool full() const { return filled_ >= samples_.size(); }
  // The frequency, near `guess_hz`, of the strongest tone there: mixed down
  // by the guess, averaged over short spans, then the mean phase step.
  double ToneNear(double guess_hz, double rate_hz) const {
    const size_t span = 64;
    std::vector<std::complex<double>> averaged;
    std::complex<double> sum = 0;
    for (size_t n = 0; n < samples_.size(); ++n) {
      sum += samples_[n] * std::polar(1.0, -2 * std::numbers::pi * guess_hz * static_cast<double>(n) / rate_hz);
      if ((n + 1) % span == 0) {
        averaged.push_back(sum);
        sum = 0;
      }
    }
    std::complex<double> steps = 0;
    for (size_t k = 1; k < averaged.size(); ++k) steps += averaged[k] * std::conj(averaged[k - 1]);
    return guess_hz + std::arg(steps) * rate_hz / (2 * std::numbers::pi * span);
  }
  double PowerAt(double hz, double rate_hz) const {
    std::complex<double> sum = 0;
    for (size_t n = 0; n < samples_.size(); ++n) {
      sum += samples_[n] * std::polar(1.0, -2 * std::numbers::pi * hz * static_cast<double>(n) / rate_hz);
    }
    return std::norm(sum / static_cast<double>(samples_.size()));
  }

 private:
  std::vector<std::complex<double>> samples_;
  std::atomic<size_t> filled_{0};
};

TEST_F(StreamingTest, ACarrierShowsWhereTheReceiverIsTunedAndSitsExactlyAfterACalibration) {
  // The steady carrier at 6 995 000 Hz, tuned 50 kHz below it at 125 kS/s.
  constexpr int kCarrierHz = 6995000;
  constexpr int kLoHz = kCarrierHz - 50000;
  constexpr double kRate = 125000;
  SetSimulator("HALVORNSIM_SOURCE", "scene");
  callback_.set_check_counting(false);

  const auto measure = [&](double* offset_hz, double* contrast) {
    Capture capture(125000);
    callback_.SetBlockObserver(&Capture::Observe, &capture);
    plugin_->StartHW(kLoHz);
    ASSERT_TRUE(PumpUntil([&] { return capture.full(); }, 10000));
    plugin_->StopHW();
    callback_.SetBlockObserver(nullptr, nullptr);
    *offset_hz = capture.ToneNear(50000, kRate);
    // The tone stands far above the noise a few kilohertz away.
    *contrast = capture.PowerAt(*offset_hz, kRate) / capture.PowerAt(*offset_hz + 3000, kRate);
  };

  double before = 0, contrast = 0;
  measure(&before, &contrast);
  EXPECT_NEAR(before, 50000, 50);
  EXPECT_GT(contrast, 1000);

  // The host reports the carrier where it sees it; the calibration takes it
  // to lie on its whole kilohertz.
  plugin_->TuneChanged(static_cast<int>(std::lround(kLoHz + before)));
  SendMessageA(Control(panel::kClockCalibrate), BM_CLICK, 0, 0);
  double after = 0;
  measure(&after, &contrast);
  EXPECT_NEAR(after, 50000, 2);
  EXPECT_LT(std::abs(after - 50000), std::abs(before - 50000));
}

}  // namespace
}  // namespace halvorn::wine_tests

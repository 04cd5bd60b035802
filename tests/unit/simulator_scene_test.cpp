#include <atomic>
#include <chrono>
#include <cmath>
#include <complex>
#include <thread>
#include <vector>

#include "receiver/sample_rate_table.h"
#include "tests/support/receiver_arithmetic.h"
#include "tests/support/simulator_library_fixture.h"

namespace halvorn::simulator {
namespace {

using Sample = std::complex<double>;

constexpr double kFullScale = 8388607.0;
constexpr double kPi = 3.14159265358979323846;

// The stream as decoded pairs, up to the number wanted.
struct SceneCapture {
  std::vector<Sample> samples;
  std::size_t wanted = 0;
  std::size_t pairs_per_transfer = 0;
  std::atomic<bool> complete{false};
  // The callback waits once `hold_at` pairs are in, until released.
  std::size_t hold_at = 0;
  std::atomic<bool> holding{false};
  std::atomic<bool> released{false};
};

SceneCapture g_scene;

std::int32_t Read24(const std::uint8_t* bytes) {
  std::int32_t value = bytes[0] | bytes[1] << 8 | bytes[2] << 16;
  return (value & 0x800000) != 0 ? value - 0x1000000 : value;
}

bool HALVORN_STDCALL SceneCallback(std::uint8_t* transfer, void*) {
  for (std::size_t pair = 0; pair < g_scene.pairs_per_transfer && g_scene.samples.size() < g_scene.wanted; ++pair) {
    const std::uint8_t* bytes = transfer + pair * 6;
    g_scene.samples.emplace_back(Read24(bytes), Read24(bytes + 3));
  }
  if (g_scene.samples.size() >= g_scene.wanted) g_scene.complete = true;
  if (g_scene.hold_at != 0 && g_scene.samples.size() == g_scene.hold_at) {
    g_scene.holding = true;
    while (!g_scene.released) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  }
  return true;
}

// The NCO word the plug-in sends for `lo_hz` with the nominal clock.
std::uint32_t NcoWord(double lo_hz) {
  return halvorn::testing::ExpectedNcoWord(static_cast<std::int32_t>(lo_hz), 80000000);
}

// Amplitude of the complex exponential at `hz` in the samples: |DFT| / N.
double AmplitudeAt(const std::vector<Sample>& samples, double hz, double rate_hz, std::size_t first = 0,
                   std::size_t count = 0) {
  if (count == 0) count = samples.size() - first;
  Sample sum = 0.0;
  for (std::size_t n = 0; n < count; ++n) {
    sum += samples[first + n] * std::polar(1.0, -2.0 * kPi * hz * static_cast<double>(n) / rate_hz);
  }
  return std::abs(sum) / static_cast<double>(count);
}

double Db(double ratio) { return 20.0 * std::log10(ratio); }
double LevelToAmplitude(double dbfs) { return kFullScale * std::pow(10.0, dbfs / 20.0); }

class SimulatorSceneTest : public testing::LibraryTest {
 protected:
  void SetUp() override {
    LibraryTest::SetUp();
    Set("HALVORNSIM_PACING", "unpaced");
    Set("HALVORNSIM_CLOCK_HZ", "80000000");
  }

  void TearDown() override {
    g_scene.released = true;  // a test that failed while the callback waits
    LibraryTest::TearDown();
  }

  struct FrontEnd {
    int row = 0;
    double lo_hz = 7050000.0;
    std::uint8_t flags = 0x02;  // dither on
    std::uint32_t attenuator = 0;
    std::int32_t preselector = 5;
  };

  // The first `pair_count` pairs of a stream started with these settings.
  std::vector<Sample> Capture(const FrontEnd& front_end, std::size_t pair_count) {
    const auto& row = receiver::kSampleRateTable[static_cast<std::size_t>(front_end.row)];
    EXPECT_EQ(device_->FpgaConfig(row.bitstream_name, row.descriptor), 0);
    const std::uint32_t word = NcoWord(front_end.lo_hz);
    std::uint8_t record[5] = {front_end.flags, static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
                              static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 24)};
    EXPECT_EQ(device_->Sio(record, 5), 0);
    EXPECT_TRUE(device_->SetAttenuator(static_cast<std::uint8_t>(front_end.attenuator)));
    EXPECT_TRUE(device_->SetPreselector(front_end.preselector));
    g_scene.samples.clear();
    g_scene.samples.reserve(pair_count);
    g_scene.wanted = pair_count;
    g_scene.pairs_per_transfer = static_cast<std::size_t>(row.bytes_per_transfer() / 6);
    g_scene.complete = false;
    g_scene.hold_at = 0;
    EXPECT_TRUE(device_->StartAsyncInput(row.bytes_per_transfer(), &SceneCallback));
    const auto give_up = std::chrono::steady_clock::now() + std::chrono::seconds(60);
    while (!g_scene.complete && std::chrono::steady_clock::now() < give_up) {
      std::this_thread::sleep_for(std::chrono::milliseconds(1));
    }
    EXPECT_TRUE(device_->StopAsyncInput());
    EXPECT_TRUE(g_scene.complete);
    return g_scene.samples;
  }

  // The true output rate: the true clock over the row's divider.
  static double RateHz(int row, double clock_hz = 80000000.0) {
    const std::uint8_t* descriptor = receiver::kSampleRateTable[static_cast<std::size_t>(row)].descriptor;
    return clock_hz / (descriptor[0] | descriptor[1] << 8);
  }

  static double TunedHz(double lo_hz, double clock_hz) { return halvorn::testing::TunedHz(NcoWord(lo_hz), clock_hz); }
};

constexpr std::size_t kPairs = 65536;

TEST_F(SimulatorSceneTest, ACarrierAppearsAtItsOffsetFromTheTunedFrequencyAtItsLevel) {
  const auto samples = Capture({}, kPairs);
  const double offset_hz = 7100000.0 - TunedHz(7050000.0, 80000000.0);  // +50 kHz
  const double carrier = AmplitudeAt(samples, offset_hz, RateHz(0));
  EXPECT_NEAR(Db(carrier / LevelToAmplitude(-85.0)), 0.0, 0.5);
  // Nothing on an empty frequency, nor beside the carrier.
  EXPECT_LT(AmplitudeAt(samples, 40000.0, RateHz(0)), carrier / 1000.0);
  EXPECT_LT(AmplitudeAt(samples, offset_hz + 100.0, RateHz(0)), carrier / 100.0);
}

TEST_F(SimulatorSceneTest, TheTrueClockMovesWhatTheNcoWordTunes) {
  Set("HALVORNSIM_CLOCK_HZ", "80000170");
  const auto samples = Capture({}, kPairs);
  const double rate_hz = RateHz(0, 80000170.0);
  const double true_offset_hz = 7100000.0 - TunedHz(7050000.0, 80000170.0);  // 15 Hz below 50 kHz
  const double expected = LevelToAmplitude(-85.0);
  EXPECT_NEAR(Db(AmplitudeAt(samples, true_offset_hz, rate_hz) / expected), 0.0, 0.5);
  EXPECT_LT(AmplitudeAt(samples, 50000.0, rate_hz), expected / 10.0);
}

TEST_F(SimulatorSceneTest, TheAttenuatorTakesTenDecibelsAStep) {
  const double offset_hz = 7100000.0 - TunedHz(7050000.0, 80000000.0);
  FrontEnd front_end;
  const double reference = AmplitudeAt(Capture(front_end, kPairs), offset_hz, RateHz(0));
  for (std::uint32_t step = 1; step <= 3; ++step) {
    front_end.attenuator = step;
    const double attenuated = AmplitudeAt(Capture(front_end, kPairs), offset_hz, RateHz(0));
    EXPECT_NEAR(Db(attenuated / reference), -10.0 * step, 0.5) << "step " << step;
  }
}

TEST_F(SimulatorSceneTest, ThePreampAddsTenDecibels) {
  const double offset_hz = 7100000.0 - TunedHz(7050000.0, 80000000.0);
  FrontEnd front_end;
  const double reference = AmplitudeAt(Capture(front_end, kPairs), offset_hz, RateHz(0));
  front_end.flags = 0x06;
  EXPECT_NEAR(Db(AmplitudeAt(Capture(front_end, kPairs), offset_hz, RateHz(0)) / reference), 10.0, 0.5);
}

TEST_F(SimulatorSceneTest, APreselectorBandThatMissesTheCarrierLowersItThirtyDecibels) {
  const double offset_hz = 7100000.0 - TunedHz(7050000.0, 80000000.0);
  FrontEnd front_end;
  const double in_band = AmplitudeAt(Capture(front_end, kPairs), offset_hz, RateHz(0));
  front_end.preselector = 10;
  EXPECT_NEAR(Db(AmplitudeAt(Capture(front_end, kPairs), offset_hz, RateHz(0)) / in_band), 0.0, 0.5);
  front_end.preselector = 3;
  EXPECT_NEAR(Db(AmplitudeAt(Capture(front_end, kPairs), offset_hz, RateHz(0)) / in_band), -30.0, 0.5);
}

TEST_F(SimulatorSceneTest, EachBandFilterPassesItsOwnStations) {
  // At 2 MS/s around 6.5 MHz: 5.9 MHz lies in band 4, 6.995 MHz in band 5.
  FrontEnd front_end;
  front_end.row = 4;
  front_end.lo_hz = 6500000.0;
  const double tuned_hz = TunedHz(6500000.0, 80000000.0);
  front_end.preselector = 5;
  auto samples = Capture(front_end, kPairs);
  EXPECT_NEAR(Db(AmplitudeAt(samples, 6995000.0 - tuned_hz, RateHz(4)) / LevelToAmplitude(-80.0)), 0.0, 0.5);
  EXPECT_NEAR(Db(AmplitudeAt(samples, 5900000.0 - tuned_hz, RateHz(4)) / LevelToAmplitude(-105.0)), 0.0, 1.0);
  front_end.preselector = 4;
  samples = Capture(front_end, kPairs);
  EXPECT_NEAR(Db(AmplitudeAt(samples, 6995000.0 - tuned_hz, RateHz(4)) / LevelToAmplitude(-110.0)), 0.0, 1.0);
  EXPECT_NEAR(Db(AmplitudeAt(samples, 5900000.0 - tuned_hz, RateHz(4)) / LevelToAmplitude(-75.0)), 0.0, 0.5);
}

TEST_F(SimulatorSceneTest, WithoutDitherTheAdcShowsItsSpur) {
  FrontEnd front_end;
  front_end.flags = 0x00;
  const double spur_offset_hz = 0.0879 * 80000000.0 - TunedHz(7050000.0, 80000000.0);  // -18 kHz
  const double spur = AmplitudeAt(Capture(front_end, kPairs), spur_offset_hz, RateHz(0));
  EXPECT_NEAR(Db(spur / LevelToAmplitude(-105.0)), 0.0, 1.0);
  front_end.flags = 0x02;
  EXPECT_LT(AmplitudeAt(Capture(front_end, kPairs), spur_offset_hz, RateHz(0)), spur / 30.0);
}

TEST_F(SimulatorSceneTest, TheNoiseFloorFollowsTheOutputRate) {
  // Tuned where the scene has no station: only the ADC's noise is left.
  FrontEnd front_end;
  front_end.lo_hz = 20000000.0;
  front_end.preselector = 10;
  for (int row : {0, 4}) {
    front_end.row = row;
    const auto samples = Capture(front_end, kPairs);
    double power = 0.0;
    for (const Sample& sample : samples) power += std::norm(sample);
    const double rms = std::sqrt(power / static_cast<double>(samples.size()));
    const double expected = kFullScale * std::pow(10.0, -153.0 / 20.0) * std::sqrt(RateHz(row));
    EXPECT_NEAR(Db(rms / expected), 0.0, 0.5) << "row " << row;
  }
}

TEST_F(SimulatorSceneTest, TheCwStationIsKeyed) {
  const double offset_hz = 7020000.0 - TunedHz(7050000.0, 80000000.0);  // -30 kHz
  const auto samples = Capture({}, 250000);  // 2 s
  constexpr std::size_t kWindow = 1250;  // 10 ms
  const double key_down = LevelToAmplitude(-75.0);
  int down = 0;
  int up = 0;
  for (std::size_t first = 0; first + kWindow <= samples.size(); first += kWindow) {
    const double level = AmplitudeAt(samples, offset_hz, RateHz(0), first, kWindow);
    if (level > key_down * 0.9) ++down;
    if (level < key_down * 0.05) ++up;
  }
  EXPECT_GT(down, 40);
  EXPECT_GT(up, 40);
}

TEST_F(SimulatorSceneTest, TheAmStationCarriesItsTwoTones) {
  const double carrier_hz = 7075000.0 - TunedHz(7050000.0, 80000000.0);  // +25 kHz
  const auto samples = Capture({}, 125000);  // 1 s
  const double carrier = AmplitudeAt(samples, carrier_hz, RateHz(0));
  EXPECT_NEAR(Db(carrier / LevelToAmplitude(-70.0)), 0.0, 0.5);
  // Each tone puts half its depth into each sideband.
  for (double sign : {-1.0, 1.0}) {
    EXPECT_NEAR(AmplitudeAt(samples, carrier_hz + sign * 400.0, RateHz(0)) / carrier, 0.15, 0.01);
    EXPECT_NEAR(AmplitudeAt(samples, carrier_hz + sign * 1000.0, RateHz(0)) / carrier, 0.10, 0.01);
  }
}

TEST_F(SimulatorSceneTest, TuningToANegativeFrequencyShowsTheMirroredSpectrum) {
  // The ADC's samples are real: tuned to -7.05 MHz the receiver sees the
  // station at 7.1 MHz through its image at -7.1 MHz, 50 kHz below.
  FrontEnd front_end;
  front_end.lo_hz = -7050000.0;
  const auto samples = Capture(front_end, kPairs);
  const double tuned_hz = TunedHz(-7050000.0, 80000000.0);
  const double mirrored_offset_hz = -7100000.0 - tuned_hz;
  EXPECT_NEAR(Db(AmplitudeAt(samples, mirrored_offset_hz, RateHz(0)) / LevelToAmplitude(-85.0)), 0.0, 0.5);
  EXPECT_LT(AmplitudeAt(samples, -mirrored_offset_hz, RateHz(0)), LevelToAmplitude(-85.0) / 1000.0);
}

TEST_F(SimulatorSceneTest, ASettingChangedWhileStreamingReachesTheNextTransfer) {
  const double offset_hz = 7100000.0 - TunedHz(7050000.0, 80000000.0);
  const auto& row = receiver::kSampleRateTable[0];
  ASSERT_EQ(device_->FpgaConfig(row.bitstream_name, row.descriptor), 0);
  const std::uint32_t word = NcoWord(7050000.0);
  std::uint8_t record[5] = {0x02, static_cast<std::uint8_t>(word), static_cast<std::uint8_t>(word >> 8),
                            static_cast<std::uint8_t>(word >> 16), static_cast<std::uint8_t>(word >> 24)};
  ASSERT_EQ(device_->Sio(record, 5), 0);
  ASSERT_TRUE(device_->SetPreselector(5));
  g_scene.samples.clear();
  g_scene.wanted = 8192 + 16384;
  g_scene.samples.reserve(g_scene.wanted);
  g_scene.pairs_per_transfer = 1024;
  g_scene.complete = false;
  g_scene.hold_at = 8192;
  g_scene.holding = false;
  g_scene.released = false;
  ASSERT_TRUE(device_->StartAsyncInput(6144, &SceneCallback));
  // The attenuator changes while the eighth transfer is in the callback.
  while (!g_scene.holding) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(device_->SetAttenuator(2));
  g_scene.released = true;
  while (!g_scene.complete) std::this_thread::sleep_for(std::chrono::milliseconds(1));
  ASSERT_TRUE(device_->StopAsyncInput());
  const auto& samples = g_scene.samples;
  const double before = AmplitudeAt(samples, offset_hz, RateHz(0), 0, 8192);
  const double after = AmplitudeAt(samples, offset_hz, RateHz(0), 8192, 16384);
  EXPECT_NEAR(Db(after / before), -20.0, 0.5);
}

}  // namespace
}  // namespace halvorn::simulator

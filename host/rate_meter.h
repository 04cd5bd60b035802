// How fast samples really arrive, and whether any went missing, judged from
// the count of pairs received at moments the host picks.
//
// Blocks come in bursts (one USB transfer may carry sixteen of them), so the
// count over time is a staircase. The slope of a least-squares line through
// many of its points finds the rate without the burst size biasing it, and one
// late look at the count only adds one point off the line.
#pragma once

#include <cstdint>
#include <optional>

namespace halvorn::host {

class RateMeter {
 public:
  void Reset();
  // The count of pairs received by `time_s`. Times must not go backward.
  void Add(double time_s, std::uint64_t pairs);

  // Pairs per second; empty until the points span at least `kMinimumSpanS`.
  std::optional<double> RateHz() const;
  double span_s() const { return points_ > 0 ? last_time_s_ - first_time_s_ : 0.0; }
  std::uint64_t first_pairs() const { return first_pairs_; }
  std::uint64_t last_pairs() const { return last_pairs_; }

  static constexpr double kMinimumSpanS = 0.5;

 private:
  std::uint64_t points_ = 0;
  double first_time_s_ = 0.0;
  double last_time_s_ = 0.0;
  std::uint64_t first_pairs_ = 0;
  std::uint64_t last_pairs_ = 0;
  // Running means and co-moments (Welford), relative to the first point so
  // that hours of counting keep their precision.
  double mean_t_ = 0.0;
  double mean_n_ = 0.0;
  double moment_tt_ = 0.0;
  double moment_tn_ = 0.0;
};

// What the elapsed time and the reported rate predict against what arrived.
// Only losses larger than the measurement's own uncertainty show: the
// staircase can be a transfer ahead at the first look and a transfer behind
// at the last, deliveries jitter by tens of milliseconds, and a real
// receiver's clock may differ from the computer's by up to about 100 ppm.
struct ShortfallEstimate {
  double expected_pairs = 0.0;
  double received_pairs = 0.0;
  double tolerance_pairs = 0.0;
  std::uint64_t missing_blocks = 0;  // beyond the tolerance, in whole blocks
};

ShortfallEstimate EstimateShortfall(const RateMeter& meter, double reported_rate_hz, int pairs_per_block);

}  // namespace halvorn::host

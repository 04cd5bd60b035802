#include "host/rate_meter.h"

#include <cmath>

namespace halvorn::host {
namespace {

// A tenth of a second of signal covers a transfer's worth of staircase at
// both ends and the delivery jitter seen under load.
constexpr double kToleranceSeconds = 0.1;
constexpr double kToleranceClockRatio = 1e-4;

}  // namespace

void RateMeter::Reset() { *this = RateMeter{}; }

void RateMeter::Add(double time_s, std::uint64_t pairs) {
  if (points_ == 0) {
    first_time_s_ = time_s;
    first_pairs_ = pairs;
  }
  last_time_s_ = time_s;
  last_pairs_ = pairs;
  ++points_;
  const double t = time_s - first_time_s_;
  const double n = static_cast<double>(pairs - first_pairs_);
  const double count = static_cast<double>(points_);
  const double dt = t - mean_t_;
  mean_t_ += dt / count;
  mean_n_ += (n - mean_n_) / count;
  // Uses the new mean of n and the old deviation of t: Welford's co-moment.
  moment_tt_ += dt * (t - mean_t_);
  moment_tn_ += dt * (n - mean_n_);
}

std::optional<double> RateMeter::RateHz() const {
  if (points_ < 3 || span_s() < kMinimumSpanS || moment_tt_ <= 0.0) return std::nullopt;
  return moment_tn_ / moment_tt_;
}

ShortfallEstimate EstimateShortfall(const RateMeter& meter, double reported_rate_hz, int pairs_per_block) {
  ShortfallEstimate estimate;
  estimate.expected_pairs =
      static_cast<double>(meter.first_pairs()) + reported_rate_hz * meter.span_s();
  estimate.received_pairs = static_cast<double>(meter.last_pairs());
  estimate.tolerance_pairs =
      reported_rate_hz * kToleranceSeconds + kToleranceClockRatio * estimate.expected_pairs;
  const double missing = estimate.expected_pairs - estimate.received_pairs - estimate.tolerance_pairs;
  if (missing > 0.0 && pairs_per_block > 0) {
    estimate.missing_blocks = static_cast<std::uint64_t>(std::ceil(missing / pairs_per_block));
  }
  return estimate;
}

}  // namespace halvorn::host

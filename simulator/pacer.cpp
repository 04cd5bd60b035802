#include "simulator/pacer.h"

#include "simulator/sample_source.h"

namespace halvorn::simulator {

Pacer::Clock::time_point Pacer::Advance(std::uint64_t bytes, std::int32_t rate_hz) {
  if (rate_hz <= 0) return last_deadline_;
  if (rate_hz != rate_hz_) {
    // A new rate counts from where the old one left off.
    base_ = last_deadline_;
    bytes_since_base_ = 0;
    rate_hz_ = rate_hz;
  }
  bytes_since_base_ += bytes;
  // Whole seconds and the remainder apart, so the product never overflows.
  const std::uint64_t bytes_per_second = kPairBytes * static_cast<std::uint64_t>(rate_hz);
  const std::uint64_t seconds = bytes_since_base_ / bytes_per_second;
  const std::uint64_t remainder = bytes_since_base_ % bytes_per_second;
  const auto elapsed = std::chrono::seconds(seconds) +
                       std::chrono::nanoseconds(remainder * 1000000000ULL / bytes_per_second);
  last_deadline_ = base_ + std::chrono::duration_cast<Clock::duration>(elapsed);
  return last_deadline_;
}

}  // namespace halvorn::simulator

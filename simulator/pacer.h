// When each transfer is due at the loaded bitstream's nominal rate. Deadlines
// are absolute, counted from the start (or the last change of rate), so sleep
// overshoot never accumulates and the long-run rate is exact.
#pragma once

#include <chrono>
#include <cstdint>

namespace halvorn::simulator {

class Pacer {
 public:
  using Clock = std::chrono::steady_clock;

  explicit Pacer(Clock::time_point start) : base_(start), last_deadline_(start) {}

  // The moment by which `bytes` more bytes of pairs are complete at `rate_hz`
  // pairs per second.
  Clock::time_point Advance(std::uint64_t bytes, std::int32_t rate_hz);

 private:
  Clock::time_point base_;
  Clock::time_point last_deadline_;
  std::int32_t rate_hz_ = 0;
  std::uint64_t bytes_since_base_ = 0;
};

}  // namespace halvorn::simulator

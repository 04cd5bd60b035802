// Tells once when the receiver has delivered nothing for a while, and again
// only after samples have flowed in between: a receiver whose input stalls
// must not pass in silence, nor nag while it stays silent.
#pragma once

#include <chrono>

namespace halvorn::streaming {

class StallWatch {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kQuietLimit = std::chrono::seconds(2);

  explicit StallWatch(Clock::time_point start) : last_arrival_(start) {}

  void SamplesArrived(Clock::time_point at) {
    last_arrival_ = at;
    told_ = false;
  }

  // True once for each quiet spell longer than the limit.
  bool QuietTooLong(Clock::time_point now) {
    if (told_ || now - last_arrival_ <= kQuietLimit) return false;
    told_ = true;
    return true;
  }

 private:
  Clock::time_point last_arrival_;
  bool told_ = false;
};

}  // namespace halvorn::streaming

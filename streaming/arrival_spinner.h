// Whether the delivery thread spins a little for the next block before it
// sleeps. Sleeping costs a wake-up through the platform (under Wine a round
// trip to its server for each), which a stream arriving every few
// microseconds cannot afford; a stream paced in milliseconds must not keep a
// core busy instead. So the thread spins only while blocks arrive close
// together, for about twice their last spacing.
#pragma once

#include <algorithm>
#include <chrono>

namespace halvorn::streaming {

class ArrivalSpinner {
 public:
  using Clock = std::chrono::steady_clock;
  static constexpr Clock::duration kLongestSpin = std::chrono::microseconds(200);

  void BlocksArrived() {
    const Clock::time_point now = Clock::now();
    spacing_ = now - last_arrival_;
    last_arrival_ = now;
  }

  Clock::time_point last_arrival() const { return last_arrival_; }

  // Spins until `ready()` holds or the spin's time is up; true when ready.
  template <typename Ready>
  bool SpinUntil(Ready&& ready) const {
    if (spacing_ >= kLongestSpin) return false;
    const Clock::time_point give_up = last_arrival_ + std::min(2 * spacing_, kLongestSpin);
    for (;;) {
      for (int i = 0; i < 64; ++i) {
        if (ready()) return true;
        Pause();
      }
      if (Clock::now() >= give_up) return false;
    }
  }

 private:
  static void Pause() {
#if defined(__i386__) || defined(__x86_64__)
    __builtin_ia32_pause();
#endif
  }

  Clock::time_point last_arrival_{};
  Clock::duration spacing_ = Clock::duration::max();
};

}  // namespace halvorn::streaming

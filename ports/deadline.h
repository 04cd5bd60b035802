// A wait's limit, read off one clock wherever the module waits with one:
// for a thread to leave, for blocks to reach the host, for a count to fall.
#pragma once

#include <chrono>
#include <cstdint>

namespace halvorn {

// A time-out that never ends; the same value as Windows' INFINITE.
inline constexpr std::uint32_t kForever = 0xFFFFFFFFu;

class Deadline {
 public:
  using Clock = std::chrono::steady_clock;

  // kForever: never passes.
  explicit Deadline(std::uint32_t timeout_ms)
      : forever_(timeout_ms == kForever), end_(Clock::now() + std::chrono::milliseconds(timeout_ms)) {}

  bool Passed() const { return !forever_ && Clock::now() >= end_; }

  // What is left of the time-out in whole milliseconds (kForever when it
  // never passes), for a platform wait that takes one.
  std::uint32_t LeftMs() const {
    if (forever_) return kForever;
    const auto left = std::chrono::ceil<std::chrono::milliseconds>(end_ - Clock::now()).count();
    return left <= 0 ? 0 : static_cast<std::uint32_t>(left);
  }

 private:
  bool forever_;
  Clock::time_point end_;
};

// A millisecond's pause. On Windows a plain Sleep: the runtime's sleep would
// give the calling thread (a host's, perhaps under the loader's lock) a
// thread record of the runtime's.
void Nap();

// Looks at `done` every millisecond until it holds or `timeout_ms` has
// passed, running `meanwhile` between looks (serving the messages sent to a
// waiting window thread, say). True when `done` held.
template <typename Done, typename Meanwhile>
bool PollUntil(std::uint32_t timeout_ms, Done done, Meanwhile meanwhile) {
  const Deadline deadline(timeout_ms);
  while (!done()) {
    if (deadline.Passed()) return false;
    meanwhile();
    Nap();
  }
  return true;
}

template <typename Done>
bool PollUntil(std::uint32_t timeout_ms, Done done) {
  return PollUntil(timeout_ms, done, [] {});
}

}  // namespace halvorn

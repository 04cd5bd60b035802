// The receiver's settings as the entries leave them and the input thread
// reads them: loaded bitstream, attenuator, preselector, control record and
// the true reference clock.
#pragma once

#include <atomic>
#include <cstdint>
#include <mutex>

#include "simulator/preselector.h"
#include "simulator/settings.h"

namespace halvorn::simulator {

struct FrontEnd {
  int bitstream = -1;  // row of the loaded bitstream, -1 before the first load
  std::uint32_t attenuator_step = 0;  // 10 dB each
  std::int32_t preselector = kWidebandSetting;
  std::uint8_t flags = 0;  // the control record's flags byte
  std::uint32_t nco_word = 0;
  std::int32_t true_clock_hz = kDefaultTrueClockHz;
};

// Guards one FrontEnd. The version changes with every update, so the input
// thread takes a new copy only when something changed.
class FrontEndState {
 public:
  explicit FrontEndState(std::int32_t true_clock_hz) { front_end_.true_clock_hz = true_clock_hz; }

  FrontEnd Snapshot(std::uint32_t* version = nullptr) const {
    std::lock_guard lock(mutex_);
    if (version != nullptr) *version = version_.load(std::memory_order_relaxed);
    return front_end_;
  }

  std::uint32_t version() const { return version_.load(std::memory_order_acquire); }

  // Applies `change` to the settings under the lock and returns its result.
  template <typename Change>
  auto Update(Change&& change) {
    std::lock_guard lock(mutex_);
    version_.fetch_add(1, std::memory_order_acq_rel);
    return change(front_end_);
  }

 private:
  mutable std::mutex mutex_;
  FrontEnd front_end_;
  std::atomic<std::uint32_t> version_{0};
};

}  // namespace halvorn::simulator

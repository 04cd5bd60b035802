// A worker thread's end, as the thread that asked it to stop sees it: the
// worker signals as it leaves, the stopper waits a while. A worker still
// inside after that (held in a host's callback) is given up on; what it runs
// on is then its own to free when it leaves.
#pragma once

#include <atomic>
#include <cstdint>
#include <memory>
#include <thread>

#include "ports/platform_kit.h"

namespace halvorn {

class WorkerExit {
 public:
  enum class End {
    kFinished,    // the worker has left its procedure, and its thread is retired
    kNeverBegan,  // nor will it: the stopper does the worker's work itself
    kStuck,       // still inside after the wait: the worker frees its things as it leaves
  };
  enum class Waiting { kPlain, kServingSentMessages };

  // False when the platform has no event for it.
  bool Prepare(PlatformKit& kit) {
    signal_ = kit.CreateWakeEvent();
    return signal_ != nullptr;
  }

  // The worker's last touch of what it runs on. True when the stopper gave up
  // on it: the freeing is then the worker's.
  bool Leave() {
    signal_->Signal();
    return state_.exchange(kLeft, std::memory_order_acq_rel) == kGivenUp;
  }

  // The stopper, once it has asked the worker to stop. A worker that is the
  // calling thread is not waited for: it is inside the call that stops it.
  End Await(WorkerThread& thread, std::uint32_t timeout_ms, Waiting waiting) {
    if (thread.CancelIfNotStarted()) {
      thread.Retire();
      return End::kNeverBegan;
    }
    const bool left = !thread.IsCurrentThread() && (waiting == Waiting::kServingSentMessages
                                                        ? signal_->WaitServingSentMessages(timeout_ms)
                                                        : signal_->Wait(timeout_ms));
    if (left) {
      // The worker's exchange follows its signal at once.
      while (state_.load(std::memory_order_acquire) != kLeft) std::this_thread::yield();
    } else if (state_.exchange(kGivenUp, std::memory_order_acq_rel) != kLeft) {
      return End::kStuck;
    }
    thread.Retire();
    return End::kFinished;
  }

 private:
  enum State : int { kInside, kLeft, kGivenUp };

  std::unique_ptr<WakeEvent> signal_;
  std::atomic<int> state_{kInside};
};

}  // namespace halvorn

// A worker thread's start, shared by the thread and its owner, either of
// which may let go of it first: the thread runs its procedure unless the owner
// cancelled it before it began. An owner cancels when it cannot wait for the
// thread to begin (while a module is unloaded the loader holds new threads
// back) and then does the thread's work itself.
#pragma once

#include <atomic>
#include <memory>

#include "ports/platform_kit.h"

namespace halvorn {

class WorkerStartGate {
 public:
  WorkerStartGate(PlatformKit::Procedure procedure, void* argument) : procedure_(procedure), argument_(argument) {}

  // The thread, with its hold on the gate, which it lets go of before the
  // procedure runs. False when the owner had cancelled.
  static bool Enter(std::shared_ptr<WorkerStartGate> gate) {
    const bool run = !gate->decided_.exchange(true, std::memory_order_acq_rel);
    const PlatformKit::Procedure procedure = gate->procedure_;
    void* const argument = gate->argument_;
    gate.reset();
    if (run) procedure(argument);
    return run;
  }

  // The owner: true when the thread had not begun; it never will.
  bool CancelIfNotStarted() { return !decided_.exchange(true, std::memory_order_acq_rel); }

 private:
  const PlatformKit::Procedure procedure_;
  void* const argument_;
  std::atomic<bool> decided_{false};
};

}  // namespace halvorn

// What the module's threads need from the platform: auto-reset events, worker
// threads, memory, and serving the messages sent to a waiting window thread.
// One implementation per platform; tests substitute failing ones.
#pragma once

#include <cstddef>
#include <cstdint>
#include <memory>

#include "ports/deadline.h"

namespace halvorn {

class WakeEvent {
 public:
  virtual ~WakeEvent() = default;
  virtual void Signal() = 0;
  // True when signalled, false on time-out (kForever: none). A signal wakes
  // one wait.
  virtual bool Wait(std::uint32_t timeout_ms) = 0;
  // As Wait, but messages other threads send to the waiting thread's windows
  // are handled meanwhile: a host callback that sends to the stopping thread
  // can then return instead of both waiting for each other.
  virtual bool WaitServingSentMessages(std::uint32_t timeout_ms) = 0;
};

class WorkerThread {
 public:
  // Destroying a thread object never waits for the thread.
  virtual ~WorkerThread() = default;
  virtual bool IsCurrentThread() const = 0;
  // True when the thread had not yet begun its procedure: it never will, and
  // the caller does the thread's work itself. While a module is unloaded a
  // new thread cannot begin (the loader holds it), so waiting for one that
  // was started just before would never end.
  virtual bool CancelIfNotStarted() = 0;
  // The thread has left its procedure, never began it, or is left inside the
  // host's callback: what it still runs is not the module's, and it ends on
  // its own. Natively it is joined unless it is the caller; on Windows its
  // last steps are the module door's, and nothing waits for them (under the
  // loader's lock a thread cannot end).
  virtual void Retire() = 0;
};

class PlatformKit {
 public:
  using Procedure = void (*)(void* argument);

  virtual ~PlatformKit() = default;
  // Null when the platform cannot create one.
  virtual std::unique_ptr<WakeEvent> CreateWakeEvent() = 0;
  // Starts `procedure(argument)` at the highest normal priority; null on failure.
  virtual std::unique_ptr<WorkerThread> StartWorker(Procedure procedure, void* argument) = 0;
  // Null when the memory is not available.
  virtual void* Allocate(std::size_t bytes) = 0;
  virtual void Free(void* memory) = 0;

  // Handles the messages other threads have sent to the calling thread's
  // windows, for a thread that waits for one of those threads.
  virtual void ServeSentMessages() = 0;
};

// Natively the only kit; on Windows the kit without the module's door.
std::unique_ptr<PlatformKit> MakePlatformKit();

}  // namespace halvorn

#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <system_error>
#include <thread>

#include "ports/platform_kit.h"
#include "ports/worker_start_gate.h"

namespace halvorn {
namespace {

class PosixWakeEvent final : public WakeEvent {
 public:
  void Signal() override {
    {
      std::lock_guard lock(mutex_);
      signalled_ = true;
    }
    condition_.notify_one();
  }

  bool Wait(std::uint32_t timeout_ms) override {
    std::unique_lock lock(mutex_);
    const auto signalled = [this] { return signalled_; };
    if (timeout_ms == kForever) {
      condition_.wait(lock, signalled);
    } else {
      condition_.wait_for(lock, std::chrono::milliseconds(timeout_ms), signalled);
    }
    const bool was_signalled = signalled_;
    signalled_ = false;
    return was_signalled;
  }

  bool WaitServingSentMessages(std::uint32_t timeout_ms) override { return Wait(timeout_ms); }

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  bool signalled_ = false;
};

class PosixWorkerThread final : public WorkerThread {
 public:
  PosixWorkerThread(PlatformKit::Procedure procedure, void* argument)
      : gate_(std::make_shared<WorkerStartGate>(procedure, argument)),
        thread_([gate = gate_]() mutable { WorkerStartGate::Enter(std::move(gate)); }) {}
  ~PosixWorkerThread() override {
    if (thread_.joinable()) thread_.detach();
  }

  bool IsCurrentThread() const override { return std::this_thread::get_id() == thread_.get_id(); }
  bool CancelIfNotStarted() override { return gate_->CancelIfNotStarted(); }
  // The thread has left its procedure, or never began it: the join is short.
  void Retire() override {
    if (!thread_.joinable()) return;
    if (IsCurrentThread()) {
      thread_.detach();
    } else {
      thread_.join();
    }
  }

 private:
  std::shared_ptr<WorkerStartGate> gate_;
  std::thread thread_;
};

class PosixPlatformKit final : public PlatformKit {
 public:
  std::unique_ptr<WakeEvent> CreateWakeEvent() override { return std::make_unique<PosixWakeEvent>(); }

  std::unique_ptr<WorkerThread> StartWorker(Procedure procedure, void* argument) override {
    try {
      return std::make_unique<PosixWorkerThread>(procedure, argument);
    } catch (const std::system_error&) {
      return nullptr;
    }
  }

  void* Allocate(std::size_t bytes) override { return std::malloc(bytes); }
  void Free(void* memory) override { std::free(memory); }
  void ServeSentMessages() override {}
};

}  // namespace

std::unique_ptr<PlatformKit> MakePlatformKit() { return std::make_unique<PosixPlatformKit>(); }

}  // namespace halvorn

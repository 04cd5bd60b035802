#include <condition_variable>
#include <cstdlib>
#include <memory>
#include <mutex>
#include <thread>

#include "streaming/stream_resources.h"
#include "streaming/worker_start_gate.h"

namespace halvorn::streaming {
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
    const bool signalled = condition_.wait_for(lock, std::chrono::milliseconds(timeout_ms),
                                               [this] { return signalled_; });
    signalled_ = false;
    return signalled;
  }

  bool WaitServingSentMessages(std::uint32_t timeout_ms) override { return Wait(timeout_ms); }

 private:
  std::mutex mutex_;
  std::condition_variable condition_;
  bool signalled_ = false;
};

class PosixWorkerThread final : public WorkerThread {
 public:
  PosixWorkerThread(StreamResources::Procedure procedure, void* argument)
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

class PosixStreamResources final : public StreamResources {
 public:
  std::unique_ptr<WakeEvent> CreateWakeEvent() override { return std::make_unique<PosixWakeEvent>(); }

  std::unique_ptr<WorkerThread> StartWorker(Procedure procedure, void* argument) override {
    try {
      return std::make_unique<PosixWorkerThread>(procedure, argument);
    } catch (const std::system_error&) {
      return nullptr;
    }
  }

  void* AllocateRing(std::size_t bytes) override { return std::malloc(bytes); }
  void FreeRing(void* memory) override { std::free(memory); }
  void ServeSentMessages() override {}
  device::TransferCallbackFn TransferEntry(device::TransferCallbackFn target) override { return target; }
};

}  // namespace

std::unique_ptr<StreamResources> MakePlatformStreamResources() {
  return std::make_unique<PosixStreamResources>();
}

}  // namespace halvorn::streaming

#include "streaming/stream_resources_win32.h"

#include "streaming/sample_stream.h"
#include "streaming/worker_start_gate.h"

#include "ports/win32/message_wait.h"

#include <windows.h>

#include <cstdlib>
#include <memory>

namespace halvorn::streaming {
namespace {

class Win32WakeEvent final : public WakeEvent {
 public:
  explicit Win32WakeEvent(HANDLE event) : event_(event) {}
  ~Win32WakeEvent() override { CloseHandle(event_); }

  void Signal() override { SetEvent(event_); }
  bool Wait(std::uint32_t timeout_ms) override {
    return WaitForSingleObject(event_, timeout_ms) == WAIT_OBJECT_0;
  }

  bool WaitServingSentMessages(std::uint32_t timeout_ms) override {
    return win::WaitServingSentMessages(event_, timeout_ms);
  }

 private:
  HANDLE event_;
};

// The thread's hold on its start, handed over through CreateThread.
using HeldGate = std::shared_ptr<WorkerStartGate>;

DWORD WINAPI RunWorker(LPVOID held_pointer) {
  auto* held = static_cast<HeldGate*>(held_pointer);
  HeldGate gate = std::move(*held);
  delete held;
  WorkerStartGate::Enter(std::move(gate));
  return 1;
}

class Win32WorkerThread final : public WorkerThread {
 public:
  Win32WorkerThread(HANDLE thread, DWORD id, std::shared_ptr<WorkerStartGate> gate)
      : thread_(thread), id_(id), gate_(std::move(gate)) {}
  ~Win32WorkerThread() override { CloseHandle(thread_); }

  bool IsCurrentThread() const override { return GetCurrentThreadId() == id_; }
  bool CancelIfNotStarted() override { return gate_->CancelIfNotStarted(); }
  void Retire() override {}

 private:
  HANDLE thread_;
  DWORD id_;
  std::shared_ptr<WorkerStartGate> gate_;
};

class Win32StreamResources final : public StreamResources {
 public:
  explicit Win32StreamResources(win::ModuleDoor* door) : door_(door) {}

  std::unique_ptr<WakeEvent> CreateWakeEvent() override {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) return nullptr;
    return std::make_unique<Win32WakeEvent>(event);
  }

  std::unique_ptr<WorkerThread> StartWorker(Procedure procedure, void* argument) override {
    auto gate = std::make_shared<WorkerStartGate>(procedure, argument);
    auto* held = new HeldGate(gate);
    DWORD id = 0;
    const LPTHREAD_START_ROUTINE entry = door_ != nullptr ? door_->Into(&RunWorker) : &RunWorker;
    HANDLE thread = CreateThread(nullptr, 0, entry, held, CREATE_SUSPENDED, &id);
    if (thread == nullptr) {
      delete held;
      return nullptr;
    }
    SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
    auto worker = std::make_unique<Win32WorkerThread>(thread, id, std::move(gate));
    ResumeThread(thread);
    return worker;
  }

  void* AllocateRing(std::size_t bytes) override { return std::malloc(bytes); }
  void FreeRing(void* memory) override { std::free(memory); }

  void ServeSentMessages() override { win::ServeSentMessages(); }

  device::TransferCallbackFn TransferEntry(device::TransferCallbackFn target) override {
    return door_ != nullptr ? door_->Into(target) : target;
  }

 private:
  win::ModuleDoor* door_;
};

}  // namespace

std::unique_ptr<StreamResources> MakeWin32StreamResources(win::ModuleDoor* door) {
  return std::make_unique<Win32StreamResources>(door);
}

std::unique_ptr<StreamResources> MakePlatformStreamResources() { return MakeWin32StreamResources(nullptr); }

std::vector<win::ModuleDoor::Entry> StreamDoorEntries() {
  using Door = win::ModuleDoor;
  return {
      {reinterpret_cast<const void*>(&RunWorker), 4, Door::Way::kThreadStart, 0},
      // A transfer that comes after the module has gone is taken unread.
      {reinterpret_cast<const void*>(&SampleStream::TransferCallback), 8, Door::Way::kCounted, 1},
  };
}

}  // namespace halvorn::streaming

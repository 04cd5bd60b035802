#include "ports/win32/platform_kit_win32.h"

#include <windows.h>

#include <cstdlib>
#include <memory>

#include "ports/win32/message_wait.h"
#include "ports/worker_start_gate.h"

namespace halvorn::win {
namespace {

class Win32WakeEvent final : public WakeEvent {
 public:
  explicit Win32WakeEvent(HANDLE event) : event_(event) {}
  ~Win32WakeEvent() override { CloseHandle(event_); }

  void Signal() override { SetEvent(event_); }
  bool Wait(std::uint32_t timeout_ms) override { return WaitForSingleObject(event_, timeout_ms) == WAIT_OBJECT_0; }
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

class Win32PlatformKit final : public PlatformKit {
 public:
  explicit Win32PlatformKit(ModuleDoor* door) : door_(door) {}

  std::unique_ptr<WakeEvent> CreateWakeEvent() override {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) return nullptr;
    return std::make_unique<Win32WakeEvent>(event);
  }

  std::unique_ptr<WorkerThread> StartWorker(Procedure procedure, void* argument) override {
    auto gate = std::make_shared<WorkerStartGate>(procedure, argument);
    auto* held = new HeldGate(gate);
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, ThroughDoor(door_, &RunWorker), held, CREATE_SUSPENDED, &id);
    if (thread == nullptr) {
      delete held;
      return nullptr;
    }
    SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
    auto worker = std::make_unique<Win32WorkerThread>(thread, id, std::move(gate));
    ResumeThread(thread);
    return worker;
  }

  void* Allocate(std::size_t bytes) override { return std::malloc(bytes); }
  void Free(void* memory) override { std::free(memory); }
  void ServeSentMessages() override { win::ServeSentMessages(); }

 private:
  ModuleDoor* door_;
};

}  // namespace

std::unique_ptr<PlatformKit> MakeWin32PlatformKit(ModuleDoor* door) { return std::make_unique<Win32PlatformKit>(door); }

ModuleDoor::Entry PlatformKitDoorEntry() {
  return {reinterpret_cast<const void*>(&RunWorker), 4, ModuleDoor::Way::kThreadStart, 0};
}

}  // namespace halvorn::win

namespace halvorn {

std::unique_ptr<PlatformKit> MakePlatformKit() { return win::MakeWin32PlatformKit(nullptr); }

}  // namespace halvorn

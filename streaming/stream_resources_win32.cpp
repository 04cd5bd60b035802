#include "streaming/stream_resources_win32.h"

#include "streaming/sample_stream.h"

#include <windows.h>

#include <atomic>
#include <cstdlib>

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
    const DWORD started = GetTickCount();
    for (;;) {
      const DWORD elapsed = GetTickCount() - started;
      const DWORD left = elapsed >= timeout_ms ? 0 : timeout_ms - elapsed;
      const DWORD woken = MsgWaitForMultipleObjects(1, &event_, FALSE, left, QS_SENDMESSAGE);
      if (woken == WAIT_OBJECT_0) return true;
      if (woken != WAIT_OBJECT_0 + 1) return false;
      // Peeking handles the messages sent to this thread; nothing is removed.
      MSG message;
      PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
    }
  }

 private:
  HANDLE event_;
};

// Shared by the thread and its owner; the last to let go frees it.
struct WorkerStart {
  enum State { kWaiting, kRunning, kCancelled };

  WorkerStart(StreamResources::Procedure procedure, void* argument) : procedure(procedure), argument(argument) {}
  void Release() {
    if (holders.fetch_sub(1, std::memory_order_acq_rel) == 1) delete this;
  }

  const StreamResources::Procedure procedure;
  void* const argument;
  std::atomic<int> state{kWaiting};
  std::atomic<int> holders{2};
};

DWORD WINAPI RunWorker(LPVOID start_pointer) {
  auto* start = static_cast<WorkerStart*>(start_pointer);
  int waiting = WorkerStart::kWaiting;
  const bool run = start->state.compare_exchange_strong(waiting, WorkerStart::kRunning);
  const StreamResources::Procedure procedure = start->procedure;
  void* const argument = start->argument;
  start->Release();
  if (run) procedure(argument);
  return 1;
}

class Win32WorkerThread final : public WorkerThread {
 public:
  Win32WorkerThread(HANDLE thread, DWORD id, WorkerStart* start, win::ModuleDoor* door)
      : thread_(thread), id_(id), start_(start), door_(door) {}
  ~Win32WorkerThread() override {
    CloseHandle(thread_);
    start_->Release();
  }

  bool IsCurrentThread() const override { return GetCurrentThreadId() == id_; }
  bool CancelIfNotStarted() override {
    int waiting = WorkerStart::kWaiting;
    return start_->state.compare_exchange_strong(waiting, WorkerStart::kCancelled);
  }
  // Bounded: while the loader lock is held (module unload) a thread cannot
  // finish ending, and waiting for it would never return. Its last steps are
  // then in the door, which must stay.
  bool Join(std::uint32_t timeout_ms) override {
    if (WaitForSingleObject(thread_, timeout_ms) == WAIT_OBJECT_0) return true;
    if (door_ != nullptr) door_->Keep();
    return false;
  }
  void Detach() override {}
  void LeaveInHostCallback() override {
    if (door_ != nullptr) door_->Keep();
  }

 private:
  HANDLE thread_;
  DWORD id_;
  WorkerStart* start_;
  win::ModuleDoor* door_;
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
    auto* start = new WorkerStart(procedure, argument);
    DWORD id = 0;
    const LPTHREAD_START_ROUTINE entry = door_ != nullptr ? door_->Into(&RunWorker) : &RunWorker;
    HANDLE thread = CreateThread(nullptr, 0, entry, start, CREATE_SUSPENDED, &id);
    if (thread == nullptr) {
      delete start;
      return nullptr;
    }
    SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
    auto worker = std::make_unique<Win32WorkerThread>(thread, id, start, door_);
    ResumeThread(thread);
    return worker;
  }

  void* AllocateRing(std::size_t bytes) override { return std::malloc(bytes); }
  void FreeRing(void* memory) override { std::free(memory); }

  void ServeSentMessages() override {
    MSG message;
    PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
  }

  device::TransferCallbackFn TransferEntry(device::TransferCallbackFn target) override {
    return door_ != nullptr ? door_->Into(target) : target;
  }
  HostCaller BlockCaller() override {
    return door_ != nullptr ? reinterpret_cast<HostCaller>(door_->HostCall()) : &CallHostDirectly;
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
      {reinterpret_cast<const void*>(&RunWorker), 4, Door::Way::kThreadStart, Door::WhenGone::kReturn, 0},
      // A transfer that comes after the module has gone is taken unread.
      {reinterpret_cast<const void*>(&SampleStream::TransferCallback), 8, Door::Way::kCounted,
       Door::WhenGone::kReturn, 1},
  };
}

}  // namespace halvorn::streaming

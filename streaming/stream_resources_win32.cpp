#include <windows.h>

#include <cstdlib>

#include "streaming/stream_resources.h"

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

struct WorkerStart {
  StreamResources::Procedure procedure;
  void* argument;
};

DWORD WINAPI RunWorker(LPVOID start_pointer) {
  const WorkerStart start = *static_cast<WorkerStart*>(start_pointer);
  delete static_cast<WorkerStart*>(start_pointer);
  start.procedure(start.argument);
  return 1;
}

class Win32WorkerThread final : public WorkerThread {
 public:
  Win32WorkerThread(HANDLE thread, DWORD id) : thread_(thread), id_(id) {}
  ~Win32WorkerThread() override { CloseHandle(thread_); }

  bool IsCurrentThread() const override { return GetCurrentThreadId() == id_; }
  // Bounded: while the loader lock is held (module unload) a thread cannot
  // finish ending, and waiting for it would never return.
  bool Join(std::uint32_t timeout_ms) override {
    return WaitForSingleObject(thread_, timeout_ms) == WAIT_OBJECT_0;
  }
  void Detach() override {}

 private:
  HANDLE thread_;
  DWORD id_;
};

class Win32StreamResources final : public StreamResources {
 public:
  std::unique_ptr<WakeEvent> CreateWakeEvent() override {
    HANDLE event = CreateEventA(nullptr, FALSE, FALSE, nullptr);
    if (event == nullptr) return nullptr;
    return std::make_unique<Win32WakeEvent>(event);
  }

  std::unique_ptr<WorkerThread> StartWorker(Procedure procedure, void* argument) override {
    auto* start = new WorkerStart{procedure, argument};
    DWORD id = 0;
    HANDLE thread = CreateThread(nullptr, 0, RunWorker, start, CREATE_SUSPENDED, &id);
    if (thread == nullptr) {
      delete start;
      return nullptr;
    }
    SetThreadPriority(thread, THREAD_PRIORITY_HIGHEST);
    auto worker = std::make_unique<Win32WorkerThread>(thread, id);
    ResumeThread(thread);
    return worker;
  }

  void* AllocateRing(std::size_t bytes) override { return std::malloc(bytes); }
  void FreeRing(void* memory) override { std::free(memory); }
};

}  // namespace

std::unique_ptr<StreamResources> MakePlatformStreamResources() {
  return std::make_unique<Win32StreamResources>();
}

}  // namespace halvorn::streaming

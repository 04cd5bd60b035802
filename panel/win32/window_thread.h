// The plug-in's own thread for its windows: the panel, its timer and its
// message boxes. No host thread ever owns a window of the plug-in's, so the
// panel answers clicks whether or not the host's threads pump, no host thread
// waits for another's message loop to reach it, and nothing of the plug-in is
// ever left on a host thread. Work asked of it from any thread is done in the
// order it was asked for. It starts when first needed, never while the module
// loads. Its message loop is the module door's: it is inside the module only
// while holding it, so an unload never waits for it (see module_door.h).
#pragma once

#include <windows.h>

#include <atomic>
#include <deque>
#include <functional>
#include <memory>
#include <mutex>
#include <vector>

#include "ports/win32/module_door.h"

namespace halvorn::win {

class WindowThread {
 public:
  // Without a door there is no window thread: the module then has no panel.
  WindowThread(HINSTANCE instance, ModuleDoor* door) : instance_(instance), door_(door) {}
  ~WindowThread();
  WindowThread(const WindowThread&) = delete;
  WindowThread& operator=(const WindowThread&) = delete;

  // Does `work` on the window thread: at once when the caller is that
  // thread, otherwise after everything asked before, without waiting for it.
  // False, with nothing done, when there is no thread and none can be had.
  bool Post(std::function<void()> work);
  // As Post, but only once something has started the thread: work on
  // windows that cannot exist before.
  bool PostIfRunning(std::function<void()> work);
  // As Post, but for work the caller must see finished, such as a message the
  // user closes: waits, keeping the caller's own windows drawn but closed to
  // input as a task-modal box would. False, with nothing done, when the
  // window thread cannot take it soon (not running, or held up inside the
  // host); the caller then does it itself.
  bool Call(const std::function<void()>& work);
  bool IsCurrent() const { return GetCurrentThreadId() == thread_id_.load(std::memory_order_acquire); }

  // Window thread: the plug-in's message box, open until the user closes it.
  // The module may go meanwhile; the thread then ends when it closes.
  void ShowMessage(const char* text);
  // How the window thread calls the host.
  ModuleDoor::StepOut StepOut() const { return door_ != nullptr ? door_->WindowThreadStepOut() : nullptr; }

  // At the unload. On the window thread itself (a host that unloads from
  // inside a status call) `farewell` takes the windows down at once. From
  // any other thread nothing waits for the window thread: its open messages
  // are closed, its windows hidden, and once the module has gone it takes
  // down what is left and ends. Nothing starts it again.
  void Stop(const std::function<void()>& farewell);

  // The ways into the module the thread needs from the door.
  static std::vector<ModuleDoor::Entry> DoorEntries();

 private:
  struct Ticket;
  struct Work {
    std::function<void()> work;
    std::shared_ptr<Ticket> ticket;  // null: nobody waits
  };

  static BOOL WINAPI Setup(LPVOID self);
  static BOOL WINAPI HandleKeys(MSG* message);
  static LRESULT CALLBACK WorkWindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam);
  static BOOL CALLBACK CloseOrHide(HWND window, LPARAM unused);
  bool EnsureRunning();
  void Enqueue(Work work);
  void Drain();
  // The work window and its class go.
  void TakeDownWorkWindow();

  const HINSTANCE instance_;
  ModuleDoor* const door_;

  std::mutex start_mutex_;
  bool stopped_ = false;  // guarded by start_mutex_
  HANDLE thread_ = nullptr;
  std::atomic<DWORD> thread_id_{0};
  // The thread could not make its work window and has ended.
  std::atomic<bool> broken_{false};

  std::mutex queue_mutex_;
  std::deque<Work> queue_;  // guarded by queue_mutex_
  std::atomic<HWND> work_window_{nullptr};
  ATOM work_class_ = 0;  // window thread only
};

}  // namespace halvorn::win

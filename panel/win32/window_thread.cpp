#include "panel/win32/window_thread.h"

#include <cstdio>
#include <cstring>

#include "panel/win32/dialog.h"
#include "ports/user_interface.h"
#include "ports/win32/message_wait.h"

namespace halvorn::win {
namespace {

// Posted to the work window when work waits for the thread.
constexpr UINT kRunQueuedWork = WM_APP + 0x102;
// How long a caller waits for the thread to take work it must see done
// before doing it itself: the thread may be held up inside the host.
constexpr DWORD kTakeWithinMs = 2000;

const void* User32Entry(const char* name) {
  return reinterpret_cast<const void*>(GetProcAddress(GetModuleHandleA("user32.dll"), name));
}

std::uint32_t Word(const void* pointer) {
  return static_cast<std::uint32_t>(reinterpret_cast<std::uintptr_t>(pointer));
}

}  // namespace

// Work that a caller waits for, taken by the window thread or withdrawn by
// the caller, whichever comes first.
struct WindowThread::Ticket {
  enum State : int { kWaiting, kTaken, kWithdrawn };

  Ticket() : done(CreateEventA(nullptr, TRUE, FALSE, nullptr)) {}
  ~Ticket() {
    if (done != nullptr) CloseHandle(done);
  }
  bool Move(State to) {
    int expected = kWaiting;
    return state.compare_exchange_strong(expected, to, std::memory_order_acq_rel);
  }

  const HANDLE done;
  std::atomic<int> state{kWaiting};
};

WindowThread::~WindowThread() {
  if (thread_ != nullptr) CloseHandle(thread_);
}

std::vector<ModuleDoor::Entry> WindowThread::DoorEntries() {
  using Door = ModuleDoor;
  return {
      {reinterpret_cast<const void*>(&WindowThread::Setup), 4, Door::Way::kHoldingTheModule, FALSE},
      {reinterpret_cast<const void*>(&WindowThread::HandleKeys), 4, Door::Way::kHoldingTheModule, FALSE},
      {reinterpret_cast<const void*>(&WindowThread::WorkWindowProcedure), 16, Door::Way::kHoldingTheModule, 0,
       User32Entry("DefWindowProcA")},
  };
}

bool WindowThread::Post(std::function<void()> work) {
  if (IsCurrent()) {
    work();
    return true;
  }
  if (!EnsureRunning()) return false;
  Enqueue({std::move(work), nullptr});
  return true;
}

bool WindowThread::PostIfRunning(std::function<void()> work) {
  {
    std::lock_guard lock(start_mutex_);
    if (thread_ == nullptr) return false;
  }
  return Post(std::move(work));
}

bool WindowThread::Call(const std::function<void()>& work) {
  if (IsCurrent()) {
    work();
    return true;
  }
  if (!EnsureRunning()) return false;
  auto ticket = std::make_shared<Ticket>();
  if (ticket->done == nullptr) return false;
  Enqueue({work, ticket});
  ModalWait wait;
  if (!wait.For(ticket->done, kTakeWithinMs) && ticket->Move(Ticket::kWithdrawn)) return false;
  wait.For(ticket->done, INFINITE);
  return true;
}

void WindowThread::ShowMessage(const char* text) {
  // The box may stay open after the module has gone: its texts live outside it.
  const std::size_t text_bytes = std::strlen(text) + 1;
  const std::size_t title_bytes = std::strlen(kMessageTitle) + 1;
  auto* texts = static_cast<char*>(HeapAlloc(GetProcessHeap(), 0, text_bytes + title_bytes));
  if (texts == nullptr) return;
  std::memcpy(texts, text, text_bytes);
  std::memcpy(texts + text_bytes, kMessageTitle, title_bytes);
  door_->WindowThreadStepOut()(User32Entry("MessageBoxA"), 0, Word(texts), Word(texts + text_bytes),
                               MB_OK | MB_ICONERROR | MB_TASKMODAL);
  HeapFree(GetProcessHeap(), 0, texts);
}

void WindowThread::Stop(const std::function<void()>& farewell) {
  {
    std::lock_guard lock(start_mutex_);
    stopped_ = true;
    if (thread_ == nullptr) return;
  }
  if (IsCurrent()) {
    farewell();
    TakeDownWorkWindow();
    return;
  }
  const DWORD id = thread_id_.load(std::memory_order_acquire);
  EnumThreadWindows(id, &WindowThread::CloseOrHide, 0);
  PostThreadMessageA(id, WM_QUIT, 0, 0);
}

BOOL CALLBACK WindowThread::CloseOrHide(HWND window, LPARAM /*unused*/) {
  char class_name[16] = {};
  GetClassNameA(window, class_name, sizeof class_name);
  // A message box closes as if the user did it; the panel vanishes now, and
  // goes with the thread.
  if (std::strcmp(class_name, "#32770") == 0 && Dialog::FromHandle(window) == nullptr) {
    PostMessageA(window, WM_COMMAND, IDOK, 0);
  } else {
    ShowWindowAsync(window, SW_HIDE);
  }
  return TRUE;
}

bool WindowThread::EnsureRunning() {
  std::lock_guard lock(start_mutex_);
  if (stopped_ || door_ == nullptr || broken_.load(std::memory_order_acquire)) return false;
  if (thread_ != nullptr) return true;
  const LPTHREAD_START_ROUTINE start = door_->WindowThreadStart(reinterpret_cast<const void*>(&WindowThread::Setup),
                                                                reinterpret_cast<const void*>(&WindowThread::HandleKeys));
  DWORD id = 0;
  // Suspended until its identity is known, which its first work may ask.
  thread_ = CreateThread(nullptr, 0, start, this, CREATE_SUSPENDED, &id);
  if (thread_ == nullptr) return false;
  thread_id_.store(id, std::memory_order_release);
  ResumeThread(thread_);
  return true;
}

void WindowThread::Enqueue(Work work) {
  {
    std::lock_guard lock(queue_mutex_);
    queue_.push_back(std::move(work));
  }
  // Before its work window exists the thread drains the queue as it makes it.
  if (const HWND window = work_window_.load(std::memory_order_acquire)) PostMessageA(window, kRunQueuedWork, 0, 0);
}

void WindowThread::Drain() {
  for (;;) {
    Work next;
    {
      std::lock_guard lock(queue_mutex_);
      if (queue_.empty()) return;
      next = std::move(queue_.front());
      queue_.pop_front();
    }
    if (next.ticket != nullptr && !next.ticket->Move(Ticket::kTaken)) continue;
    try {
      next.work();
    } catch (...) {
    }
    if (next.ticket != nullptr) SetEvent(next.ticket->done);
  }
}

BOOL WINAPI WindowThread::Setup(LPVOID self_pointer) {
  auto* self = static_cast<WindowThread*>(self_pointer);
  char class_name[48];
  // Named after this load, so a class an earlier load left is never met.
  std::snprintf(class_name, sizeof class_name, "Halvorn work:%p", self->door_->Identity());
  WNDCLASSA work_class{};
  work_class.lpfnWndProc = self->door_->Into(&WindowThread::WorkWindowProcedure);
  work_class.hInstance = self->instance_;
  work_class.lpszClassName = class_name;
  self->work_class_ = RegisterClassA(&work_class);
  const HWND window = self->work_class_ != 0 ? CreateWindowExA(0, class_name, "", 0, 0, 0, 0, 0, HWND_MESSAGE,
                                                               nullptr, self->instance_, self)
                                             : nullptr;
  if (window == nullptr) {
    self->broken_.store(true, std::memory_order_release);
    self->TakeDownWorkWindow();
    return FALSE;
  }
  self->door_->RecordWindowClass(self->work_class_);
  self->door_->RecordWindow(window);
  self->work_window_.store(window, std::memory_order_release);
  self->Drain();
  return TRUE;
}

void WindowThread::TakeDownWorkWindow() {
  if (const HWND window = work_window_.exchange(nullptr)) {
    door_->ForgetWindow(window);
    DestroyWindow(window);
  }
  if (work_class_ != 0) {
    door_->ForgetWindowClass(work_class_);
    UnregisterClassA(MAKEINTATOM(work_class_), instance_);
    work_class_ = 0;
  }
}

BOOL WINAPI WindowThread::HandleKeys(MSG* message) { return Dialog::HandleKeys(*message) ? TRUE : FALSE; }

LRESULT CALLBACK WindowThread::WorkWindowProcedure(HWND window, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_NCCREATE) {
    const auto* create = reinterpret_cast<const CREATESTRUCTA*>(lparam);
    SetWindowLongPtrA(window, GWLP_USERDATA, reinterpret_cast<LONG_PTR>(create->lpCreateParams));
  } else if (message == kRunQueuedWork) {
    if (auto* self = reinterpret_cast<WindowThread*>(GetWindowLongPtrA(window, GWLP_USERDATA))) self->Drain();
    return 0;
  }
  return DefWindowProcA(window, message, wparam, lparam);
}

}  // namespace halvorn::win

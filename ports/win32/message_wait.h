// Waiting on a Windows thread that other threads may need meanwhile: one of
// ours may send it a message (a window call it makes to a window of this
// thread's, a host callback that sends to the host's window thread) and would
// wait for this thread as this thread waits for it.
#pragma once

#include <windows.h>

namespace halvorn::win {

// Handles the messages other threads have sent to this thread's windows.
void ServeSentMessages();

// Waits for `object` at most `timeout_ms` (INFINITE: for good), handling the
// messages other threads send to this thread's windows. True when it was
// signalled.
bool WaitServingSentMessages(HANDLE object, DWORD timeout_ms);

// The same, but every message of this thread is handled, as a modal loop
// does, and this thread's windows take no input meanwhile (a task-modal
// box's way). A WM_QUIT met is posted again afterwards.
class ModalWait {
 public:
  ModalWait();
  ~ModalWait();
  ModalWait(const ModalWait&) = delete;
  ModalWait& operator=(const ModalWait&) = delete;

  bool For(HANDLE object, DWORD timeout_ms);

 private:
  static BOOL CALLBACK DisableIfOpen(HWND window, LPARAM self);

  static constexpr int kMostWindows = 64;
  HWND disabled_[kMostWindows] = {};
  int disabled_count_ = 0;
  bool quit_ = false;
  WPARAM quit_code_ = 0;
};

}  // namespace halvorn::win

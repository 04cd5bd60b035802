#include "ports/win32/message_wait.h"

#include "ports/deadline.h"

namespace halvorn::win {

static_assert(kForever == INFINITE);

void ServeSentMessages() {
  // Peeking delivers the sent messages; nothing is removed.
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

bool WaitServingSentMessages(HANDLE object, DWORD timeout_ms) {
  const Deadline deadline(timeout_ms);
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &object, FALSE, deadline.LeftMs(), QS_SENDMESSAGE);
    if (woken == WAIT_OBJECT_0) return true;
    if (woken != WAIT_OBJECT_0 + 1) return false;
    ServeSentMessages();
  }
}

ModalWait::ModalWait() { EnumThreadWindows(GetCurrentThreadId(), &ModalWait::DisableIfOpen, reinterpret_cast<LPARAM>(this)); }

ModalWait::~ModalWait() {
  for (int i = 0; i < disabled_count_; ++i) EnableWindow(disabled_[i], TRUE);
  if (quit_) PostQuitMessage(static_cast<int>(quit_code_));
}

BOOL CALLBACK ModalWait::DisableIfOpen(HWND window, LPARAM self_pointer) {
  auto& self = *reinterpret_cast<ModalWait*>(self_pointer);
  if (self.disabled_count_ == kMostWindows) return FALSE;
  if (IsWindowVisible(window) && IsWindowEnabled(window)) {
    EnableWindow(window, FALSE);
    self.disabled_[self.disabled_count_++] = window;
  }
  return TRUE;
}

bool ModalWait::For(HANDLE object, DWORD timeout_ms) {
  const Deadline deadline(timeout_ms);
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &object, FALSE, deadline.LeftMs(), QS_ALLINPUT);
    if (woken == WAIT_OBJECT_0) return true;
    if (woken != WAIT_OBJECT_0 + 1) return false;
    MSG message;
    while (PeekMessageA(&message, nullptr, 0, 0, PM_REMOVE)) {
      if (message.message == WM_QUIT) {
        quit_ = true;
        quit_code_ = message.wParam;
        continue;
      }
      TranslateMessage(&message);
      DispatchMessageA(&message);
    }
  }
}

}  // namespace halvorn::win

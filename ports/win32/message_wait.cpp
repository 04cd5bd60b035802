#include "ports/win32/message_wait.h"

namespace halvorn::win {
namespace {

// Left of `timeout_ms` once `started` (a GetTickCount reading) is that long ago.
DWORD Left(DWORD started, DWORD timeout_ms) {
  if (timeout_ms == INFINITE) return INFINITE;
  const DWORD elapsed = GetTickCount() - started;
  return elapsed >= timeout_ms ? 0 : timeout_ms - elapsed;
}

}  // namespace

void ServeSentMessages() {
  // Peeking delivers the sent messages; nothing is removed.
  MSG message;
  PeekMessageA(&message, nullptr, 0, 0, PM_NOREMOVE | PM_QS_SENDMESSAGE);
}

bool WaitServingSentMessages(HANDLE object, DWORD timeout_ms) {
  const DWORD started = GetTickCount();
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &object, FALSE, Left(started, timeout_ms), QS_SENDMESSAGE);
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
  const DWORD started = GetTickCount();
  for (;;) {
    const DWORD woken = MsgWaitForMultipleObjects(1, &object, FALSE, Left(started, timeout_ms), QS_ALLINPUT);
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

#include "panel/win32/dialog.h"

#include <atomic>

namespace halvorn::win {
namespace {

constexpr ATOM kDialogClassAtom = 32770;

// The procedure the framework's dialogs are made with: the door's entry for
// Dialog::Procedure, or Dialog::Procedure itself.
std::atomic<DLGPROC> g_procedure{nullptr};

}  // namespace

Dialog::~Dialog() { Unhook(); }

bool Dialog::CreateModeless(HINSTANCE instance, HWND parent, ModuleDoor* door) {
  if (parent == nullptr) return false;
  const DLGPROC procedure = door != nullptr ? door->Into(&Dialog::Procedure) : &Dialog::Procedure;
  g_procedure.store(procedure);
  const HWND window =
      CreateDialogParamA(instance, MAKEINTRESOURCEA(template_id_), parent, procedure, reinterpret_cast<LPARAM>(this));
  if (window == nullptr) return false;
  const HOOKPROC hook = door != nullptr ? door->Into(&Dialog::KeyboardHook) : &Dialog::KeyboardHook;
  keyboard_hook_ = SetWindowsHookExA(WH_GETMESSAGE, hook, nullptr, GetCurrentThreadId());
  return true;
}

Dialog* Dialog::FromHandle(HWND hwnd) {
  if (hwnd == nullptr || GetClassLongA(hwnd, GCW_ATOM) != kDialogClassAtom) return nullptr;
  if (GetWindowLongPtrA(hwnd, DWLP_DLGPROC) != reinterpret_cast<LONG_PTR>(g_procedure.load())) return nullptr;
  return reinterpret_cast<Dialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
}

void Dialog::OnDetached() { Unhook(); }

std::vector<ModuleDoor::Entry> Dialog::DoorEntries() {
  return {
      {reinterpret_cast<const void*>(&Dialog::Procedure), 16, ModuleDoor::Way::kHoldingTheModule,
       ModuleDoor::WhenGone::kReturn, FALSE},
      {reinterpret_cast<const void*>(&Dialog::KeyboardHook), 12, ModuleDoor::Way::kHoldingTheModule,
       ModuleDoor::WhenGone::kNextHook, 0},
  };
}

void Dialog::Abandon() {
  const HWND window = hwnd();
  SetWindowLongPtrA(window, DWLP_DLGPROC, 0);
  SetWindowLongPtrA(window, DWLP_USER, 0);
  Detach();
}

void Dialog::Unhook() {
  if (keyboard_hook_ != nullptr) UnhookWindowsHookEx(keyboard_hook_);
  keyboard_hook_ = nullptr;
}

INT_PTR CALLBACK Dialog::Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam) {
  if (message == WM_INITDIALOG) {
    auto* self = reinterpret_cast<Dialog*>(lparam);
    SetWindowLongPtrA(hwnd, DWLP_USER, lparam);
    self->Attach(hwnd);
    try {
      return self->OnInitDialog() ? TRUE : FALSE;
    } catch (...) {
      return FALSE;
    }
  }
  auto* self = reinterpret_cast<Dialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
  if (self == nullptr) return FALSE;
  if (message == WM_NCDESTROY) {
    SetWindowLongPtrA(hwnd, DWLP_USER, 0);
    self->Detach();
    return FALSE;
  }
  return self->Dispatch(message, wparam, lparam) ? TRUE : FALSE;
}

HWND Dialog::EnclosingDialog(HWND hwnd) {
  for (HWND window = hwnd; window != nullptr; window = GetParent(window)) {
    if (FromHandle(window) != nullptr) return window;
    if ((GetWindowLongA(window, GWL_STYLE) & WS_CHILD) == 0) break;
  }
  return nullptr;
}

LRESULT CALLBACK Dialog::KeyboardHook(int code, WPARAM removal, LPARAM message_pointer) {
  if (code == HC_ACTION && removal == PM_REMOVE) {
    auto* message = reinterpret_cast<MSG*>(message_pointer);
    if (message->message >= WM_KEYFIRST && message->message <= WM_KEYLAST) {
      const HWND dialog = EnclosingDialog(message->hwnd);
      // IsDialogMessage has then dispatched it itself: leave the host's loop
      // nothing to translate or dispatch a second time.
      if (dialog != nullptr && IsDialogMessageA(dialog, message)) {
        message->message = WM_NULL;
        message->wParam = 0;
        message->lParam = 0;
      }
    }
  }
  return CallNextHookEx(nullptr, code, removal, message_pointer);
}

}  // namespace halvorn::win

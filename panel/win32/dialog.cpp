#include "panel/win32/dialog.h"

#include <atomic>

namespace halvorn::win {
namespace {

constexpr ATOM kDialogClassAtom = 32770;

// The procedure the framework's dialogs are made with: the door's entry for
// Dialog::Procedure, or Dialog::Procedure itself.
std::atomic<DLGPROC> g_procedure{nullptr};

}  // namespace

bool Dialog::CreateModeless(HINSTANCE instance, HWND parent, ModuleDoor* door) {
  if (parent == nullptr) return false;
  const DLGPROC procedure = ThroughDoor(door, &Dialog::Procedure);
  g_procedure.store(procedure);
  return CreateDialogParamA(instance, MAKEINTRESOURCEA(template_id_), parent, procedure,
                            reinterpret_cast<LPARAM>(this)) != nullptr;
}

Dialog* Dialog::FromHandle(HWND hwnd) {
  if (hwnd == nullptr || GetClassLongA(hwnd, GCW_ATOM) != kDialogClassAtom) return nullptr;
  if (GetWindowLongPtrA(hwnd, DWLP_DLGPROC) != reinterpret_cast<LONG_PTR>(g_procedure.load())) return nullptr;
  return reinterpret_cast<Dialog*>(GetWindowLongPtrA(hwnd, DWLP_USER));
}

std::vector<ModuleDoor::Entry> Dialog::DoorEntries() {
  return {{reinterpret_cast<const void*>(&Dialog::Procedure), 16, ModuleDoor::Way::kHoldingTheModule, FALSE}};
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

bool Dialog::HandleKeys(MSG& message) {
  if (message.message < WM_KEYFIRST || message.message > WM_KEYLAST) return false;
  const HWND dialog = EnclosingDialog(message.hwnd);
  return dialog != nullptr && IsDialogMessageA(dialog, &message);
}

}  // namespace halvorn::win

// A control of a dialog bound to a member by its identifier: the member
// follows the control's window from dialog initialisation until the dialog
// window is destroyed, and does nothing without one. Every operation is a
// message sent to the control, so any thread of the process may use it.
#pragma once

#include <windows.h>

namespace halvorn::win {

class Control {
 public:
  Control() = default;
  explicit Control(HWND hwnd) : hwnd_(hwnd) {}

  HWND hwnd() const { return hwnd_; }
  void Attach(HWND hwnd) { hwnd_ = hwnd; }

  void Enable(bool enabled) const {
    if (hwnd_ != nullptr) EnableWindow(hwnd_, enabled ? TRUE : FALSE);
  }
  void SetText(const char* text) const {
    if (hwnd_ != nullptr) SetWindowTextA(hwnd_, text);
  }

 private:
  HWND hwnd_ = nullptr;
};

// A push button, check box or radio button.
class ButtonControl : public Control {
 public:
  using Control::Control;

  // BST_UNCHECKED, BST_CHECKED or BST_INDETERMINATE; unchecked without a control.
  int GetCheck() const {
    return hwnd() != nullptr ? static_cast<int>(SendMessageA(hwnd(), BM_GETCHECK, 0, 0)) : BST_UNCHECKED;
  }
  void SetCheck(int state) const {
    if (hwnd() != nullptr) SendMessageA(hwnd(), BM_SETCHECK, static_cast<WPARAM>(state), 0);
  }
};

// A static text.
class StaticControl : public Control {
 public:
  using Control::Control;
};

}  // namespace halvorn::win

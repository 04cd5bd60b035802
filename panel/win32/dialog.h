// A modeless dialog built from a dialog template. Because the host owns the message loop, the dialog
// hooks its thread's message retrieval to give its own keyboard messages the
// dialog navigation (Tab, arrow keys within a group) and nothing else.
#pragma once

#include <windows.h>

#include <vector>

#include "panel/win32/window.h"
#include "ports/win32/module_door.h"

namespace halvorn::win {

class Dialog : public Window {
 public:
  explicit Dialog(int template_id) : template_id_(template_id) {}
  ~Dialog() override;

  // Creates the dialog window from the template in `instance` as a child of
  // `parent`, not yet visible, entered through `door` when there is one;
  // false when it could not be created.
  bool CreateModeless(HINSTANCE instance, HWND parent, ModuleDoor* door);

  // The framework's dialog attached to `hwnd`, or null for any other window.
  static Dialog* FromHandle(HWND hwnd);
  // The ways into the module every dialog's window needs from the door.
  static std::vector<ModuleDoor::Entry> DoorEntries();

 protected:
  // True asks for the default focus.
  virtual bool OnInitDialog() { return true; }

  void OnDetached() override;
  void Abandon() override;

 private:
  friend class Window;

  static INT_PTR CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  static LRESULT CALLBACK KeyboardHook(int code, WPARAM removal, LPARAM message_pointer);
  // The framework dialog that `hwnd` is, or lies inside.
  static HWND EnclosingDialog(HWND hwnd);
  void Unhook();

  int template_id_;
  HHOOK keyboard_hook_ = nullptr;
};

}  // namespace halvorn::win

// A modeless dialog built from a dialog template. The window thread's message
// loop gives the dialog its keyboard navigation (Tab, arrow keys within a
// group) through HandleKeys.
#pragma once

#include <windows.h>

#include <vector>

#include "panel/win32/window.h"
#include "ports/win32/module_door.h"

namespace halvorn::win {

class Dialog : public Window {
 public:
  explicit Dialog(int template_id) : template_id_(template_id) {}

  // Creates the dialog window from the template in `instance` as a child of
  // `parent`, not yet visible, entered through `door` when there is one;
  // false when it could not be created.
  bool CreateModeless(HINSTANCE instance, HWND parent, ModuleDoor* door);

  // The framework's dialog attached to `hwnd`, or null for any other window.
  static Dialog* FromHandle(HWND hwnd);
  // A keyboard message for a framework dialog, or a control inside one, is
  // that dialog's navigation: true when it has been handled so.
  static bool HandleKeys(MSG& message);
  // The ways into the module every dialog's window needs from the door.
  static std::vector<ModuleDoor::Entry> DoorEntries();

 protected:
  // True asks for the default focus.
  virtual bool OnInitDialog() { return true; }

 private:
  static INT_PTR CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  // The framework dialog that `hwnd` is, or lies inside.
  static HWND EnclosingDialog(HWND hwnd);

  int template_id_;
};

}  // namespace halvorn::win

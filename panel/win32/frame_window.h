// A top-level frame window of a class registered for it. Focus given to the
// frame goes on to its content, the first child window.
#pragma once

#include <windows.h>

#include <string>

#include "panel/win32/window.h"
#include "ports/win32/module_door.h"

namespace halvorn::win {

class FrameWindow : public Window {
 public:
  // Creates the window, with no parent and no menu; false when it could not be created.
  bool Create(HINSTANCE instance, const std::string& class_name, const char* caption, DWORD style,
              DWORD extended_style, const RECT& rect);

  // The procedure of every window class registered for frames.
  static LRESULT CALLBACK Procedure(HWND hwnd, UINT message, WPARAM wparam, LPARAM lparam);
  // Its way into the module, from the door.
  static ModuleDoor::Entry DoorEntry();
};

}  // namespace halvorn::win

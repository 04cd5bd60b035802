#include "panel/win32/window.h"

namespace halvorn::win {

bool Window::Dispatch(UINT message, WPARAM wparam, LPARAM lparam) noexcept {
  try {
    return OnMessage(message, wparam, lparam);
  } catch (...) {
    return true;
  }
}

}  // namespace halvorn::win

// A message map: a fixed table that sends a window's messages to member
// handlers, in table order. A click entry names its control; every other
// entry matches its message alone.
#pragma once

#include <windows.h>

#include <cstddef>

namespace halvorn::win {

template <class Owner>
struct MessageMapEntry {
  UINT message;
  WORD notification;  // WM_COMMAND entries only
  int control_id;     // WM_COMMAND entries only
  // Called with the control's identifier for a command, the timer's for
  // WM_TIMER, 0 otherwise.
  void (Owner::*handler)(int id);
};

template <class Owner>
constexpr MessageMapEntry<Owner> OnClicked(int control_id, void (Owner::*handler)(int)) {
  return {WM_COMMAND, BN_CLICKED, control_id, handler};
}

template <class Owner>
constexpr MessageMapEntry<Owner> OnMessage(UINT message, void (Owner::*handler)(int)) {
  return {message, 0, 0, handler};
}

// Runs the first entry that matches; false when none does.
template <class Owner, std::size_t Count>
bool DispatchThroughMap(const MessageMapEntry<Owner> (&map)[Count], Owner& owner, UINT message,
                        WPARAM wparam) {
  for (const MessageMapEntry<Owner>& entry : map) {
    if (entry.message != message) continue;
    if (message == WM_COMMAND) {
      if (HIWORD(wparam) != entry.notification || LOWORD(wparam) != static_cast<WORD>(entry.control_id)) {
        continue;
      }
      (owner.*entry.handler)(entry.control_id);
    } else {
      (owner.*entry.handler)(message == WM_TIMER ? static_cast<int>(wparam) : 0);
    }
    return true;
  }
  return false;
}

}  // namespace halvorn::win

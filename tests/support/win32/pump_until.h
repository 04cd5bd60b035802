// Waiting as a host's window thread waits: pumping its messages.
#pragma once

#include <windows.h>

#include <functional>

#include "host/extio_plugin.h"

namespace halvorn::testing {

// Pumps this thread's messages until `done` holds or `timeout_ms` passed;
// returns `done()`.
inline bool PumpUntil(const std::function<bool()>& done, DWORD timeout_ms) {
  const ULONGLONG deadline = GetTickCount64() + timeout_ms;
  while (!done()) {
    if (GetTickCount64() >= deadline) return false;
    host::PumpMessagesFor(10);
  }
  return true;
}

}  // namespace halvorn::testing

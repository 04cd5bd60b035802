// The module's door: a few bytes of code in memory of their own, outside the
// module's image, through which every thread comes into the module's code from
// outside (window procedures, the message hook, the device library's transfer
// callback, the module's own threads) and through which the module's own
// threads call the host. While the module is loaded the door counts who is
// inside. An unload closes it once nobody is, and from then on a late arrival
// is turned away harmlessly instead of running code that is gone: a window
// message goes to the default procedure, a transfer is taken unread, and a
// thread of the module's own that comes back from the host's callback ends
// there. Whatever may still come through after the unload keeps the door's
// memory (Keep); otherwise it is freed with the door.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>

namespace halvorn::win {

class ModuleDoor {
 public:
  // Null when the memory cannot be had; the module then lets calls in and out
  // directly, as before.
  static std::unique_ptr<ModuleDoor> Open();
  ~ModuleDoor();
  ModuleDoor(const ModuleDoor&) = delete;
  ModuleDoor& operator=(const ModuleDoor&) = delete;

  // Entries through the door, each forwarding to `target` while the door is open.
  WNDPROC WindowProcedure(WNDPROC target);  // closed: DefWindowProcA
  DLGPROC DialogProcedure(DLGPROC target);  // closed: FALSE, the dialog's default
  HOOKPROC MessageHook(HOOKPROC target);    // closed: CallNextHookEx
  // A stdcall function of two 32-bit arguments returning BOOL; closed: TRUE.
  void* TwoArgumentEntry(void* target);
  // A thread start routine of the module's own; the thread ends in the door.
  LPTHREAD_START_ROUTINE ThreadStart(LPTHREAD_START_ROUTINE target);
  // How a thread of the module's own calls the host's cdecl callback
  // (count, status, IQ offset, data): cdecl (callback, count, status, IQ
  // offset, data). Inside the host the thread does not count as inside the
  // module; if the door has closed when the host returns, the thread ends.
  void* HostCall();

  // Unload: waits, doing `meanwhile` between looks, until nobody is inside,
  // then closes. False when someone was still inside after `timeout_ms`; the
  // door is then closed all the same.
  bool Close(DWORD timeout_ms, void (*meanwhile)());
  // Something may still come through after the unload: the door's memory
  // stays for the rest of the process.
  void Keep() { keep_ = true; }

 // The code page's and the data page's layout.
  struct Layout;

 private:
  explicit ModuleDoor(std::uint8_t* memory);
  std::uint32_t* Slot();

  std::uint8_t* memory_;  // code page, then data page
  bool keep_ = false;
};

}  // namespace halvorn::win

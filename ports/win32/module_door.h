// The module's door: a few bytes of code in memory of their own, outside the
// module's image, through which every thread comes into the module's code from
// outside and through which the module's own threads call the host. Under
// Wine as on Windows a thread may need the loader lock for almost any window
// work, so an unload, which holds that lock, must never wait for a thread
// that is in the module's code; the door makes sure it never has to.
//
// - A host's thread (an entry point, a window procedure, the message hook)
//   holds a reference on the module for as long as it is inside, taken and
//   released in the door. A host that unloads meanwhile only drops its own
//   reference; the thread that comes out last then unloads the module, from
//   the door, with nothing of the module's left on its stack.
// - The module's own threads, and the device library's thread in the transfer
//   callback, are counted in and out instead, since they must not keep the
//   module loaded (the unload is what stops them). The unload waits for the
//   count, which none of them needs the loader lock to bring down: inside the
//   host's callback a thread of the module's does not count, and if the module
//   has gone when the host returns, the thread ends in the door.
// - After the unload a late arrival is turned away harmlessly.
//
// Whatever may still come through after the unload keeps the door's memory
// (Keep); otherwise it is freed with the door.
#pragma once

#include <windows.h>

#include <cstdint>
#include <memory>
#include <utility>
#include <vector>

namespace halvorn::win {

class ModuleDoor {
 public:
  enum class Way {
    kHoldingTheModule,  // a host's thread: holds a reference while inside
    kCounted,           // the device library's thread: counted while inside
    kThreadStart,       // the module's own thread: counted, and ends in the door
  };
  // What a caller meets once the module has gone.
  enum class WhenGone { kDefaultWindowProcedure, kNextHook, kReturn };
  struct Entry {
    const void* target;  // stdcall
    int argument_bytes;
    Way way;
    WhenGone when_gone;
    std::uint32_t result_when_gone;  // for kReturn
  };

  // Null when the memory cannot be had; the module then lets calls in and out
  // directly, as before.
  static std::unique_ptr<ModuleDoor> Open(HMODULE module, const std::vector<Entry>& entries);
  ~ModuleDoor();
  ModuleDoor(const ModuleDoor&) = delete;
  ModuleDoor& operator=(const ModuleDoor&) = delete;

  // The way in to `target`, or `target` itself when it has none.
  template <typename Function>
  Function Into(Function target) const {
    return reinterpret_cast<Function>(Find(reinterpret_cast<const void*>(target)));
  }
  // How a thread of the module's own calls the host's cdecl callback (count,
  // status, IQ offset, data): cdecl (callback, count, status, IQ offset, data).
  void* HostCall() const { return host_call_; }

  // Unload: waits, doing `meanwhile` between looks, until no counted thread
  // is inside, then shuts. False when one still was after `timeout_ms`; the
  // door is shut all the same and its memory kept for that thread.
  bool Close(DWORD timeout_ms, void (*meanwhile)());
  // Something may still come through after the unload: the door's memory
  // stays for the rest of the process.
  void Keep() { keep_ = true; }

  struct Layout;

 private:
  explicit ModuleDoor(std::uint8_t* memory) : memory_(memory) {}
  const void* Find(const void* target) const;

  std::uint8_t* memory_;  // code page, then data page
  std::vector<std::pair<const void*, const void*>> ways_in_;  // target, thunk
  void* host_call_ = nullptr;
  bool keep_ = false;
};

}  // namespace halvorn::win

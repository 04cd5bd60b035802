// The module's door: a few thunks in memory of their own, outside the
// module's image, through which every thread comes into the module's code
// from outside, through which the module's own threads call the host, and on
// which the module's unload leaves what must run after it. Under Wine as on
// Windows a thread may need the loader's lock for almost any window work, and
// a thread's end always does, so an unload, which holds that lock, must never
// wait for a thread in the module's code; the door makes sure it never has to.
//
// - A host's thread (an exported entry point) holds a reference on the module
//   for as long as it is inside, taken and released in the door. A host that
//   unloads meanwhile only drops its own reference; the thread that comes out
//   last then unloads the module, from the door, with nothing of the module's
//   left on its stack.
// - The plug-in's window thread does the same, for each message it hands to
//   the module: its message loop is the door's. Its window work may need the
//   loader's lock at any moment (a resource, a window class), so an unload
//   must never wait for it: it cannot, as the window thread is in the module
//   only while holding it. While it calls the host or shows a message it lets
//   go of its hold, and takes it back after, unless the module has gone
//   meanwhile: then it ends in the door, taking down what is left of its
//   windows.
// - The module's other threads (the delivery and writing threads) and the
//   device library's thread in the transfer callback are counted in and out
//   instead, since they must not keep the module loaded: the unload is what
//   stops them. The unload waits for the count, which none of them needs the
//   loader's lock to bring down: while it calls the host a thread of the
//   module's does not count, and if the module has gone when the host
//   returns, the thread ends in the door.
// - Once the module has gone, every thunk turns callers away with a fixed
//   answer or a stand-in, never entering the module.
//
// The door's memory is never freed: a few KiB a load, and nothing has to
// decide when the last thread has left it.
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
    kHoldingTheModule,  // a host's thread, the window thread: holds a reference while inside
    kCounted,           // a thread the module does not hold: counted while inside
    kThreadStart,       // the module's own thread: counted, and ends in the door
  };
  // How a thread calls a function outside the module (cdecl: function, then
  // four 32-bit arguments it is called with; its result comes back).
  using StepOut = std::uint32_t(__cdecl*)(const void* function, std::uint32_t, std::uint32_t, std::uint32_t,
                                         std::uint32_t);
  struct Entry {
    const void* target;  // stdcall
    int argument_bytes;
    Way way;
    // What a caller meets once the module has gone: the stand-in, called with
    // the same arguments, or else the answer.
    std::uint32_t answer_when_gone;
    const void* stand_in_when_gone = nullptr;
  };
  // A library the module leaves behind at its unload, with what it takes to
  // let it go: each entry (stdcall, no arguments) may be null.
  struct LibraryRelease {
    const void* stop_input;  // bool: false when the input would not stop
    const void* close;
    HMODULE library;
    HANDLE done;  // set, then closed, once the library is released; may be null
  };

  // Null when the memory cannot be had; the module then lets calls in and out
  // directly.
  static std::unique_ptr<ModuleDoor> Open(HMODULE module, const std::vector<Entry>& entries);
  ModuleDoor(const ModuleDoor&) = delete;
  ModuleDoor& operator=(const ModuleDoor&) = delete;

  // The way in to `target`, or `target` itself when it has none.
  template <typename Function>
  Function Into(Function target) const {
    return reinterpret_cast<Function>(Find(reinterpret_cast<const void*>(target)));
  }
  // How a counted thread of the module's own steps out, and how the window
  // thread does (each only that thread).
  StepOut CountedStepOut() const { return counted_step_out_; }
  StepOut WindowThreadStepOut() const { return window_step_out_; }
  // The window thread's start routine: `setup` (stdcall, one argument: the
  // thread's) through its way in, then the door's message loop, which hands
  // each key message to `keys` (stdcall, MSG*: true when taken) through its
  // way in first. Both need ways in, held.
  LPTHREAD_START_ROUTINE WindowThreadStart(const void* setup, const void* keys);
  // What the window thread's last steps take down, should the module have
  // gone before it could (up to four of each; null/0 forgets one).
  void RecordWindow(HWND window);
  void ForgetWindow(HWND window);
  void RecordWindowClass(ATOM atom);
  void ForgetWindowClass(ATOM atom);
  // An address that names this load of the module for the rest of the process.
  const void* Identity() const { return memory_; }

  // Unload, under the loader's lock: after the lock is released, a thread of
  // the door's stops the library's input, closes it and releases it. False
  // when no thread could be had; nothing is called then.
  bool ReleaseAfterUnload(const LibraryRelease& release);

  // Unload: waits, doing `meanwhile` between looks, until no counted thread
  // is inside, then shuts. False when one still was after `timeout_ms`; the
  // door is shut all the same.
  bool Close(DWORD timeout_ms, void (*meanwhile)());

 private:
  explicit ModuleDoor(std::uint8_t* memory) : memory_(memory) {}
  const void* Find(const void* target) const;
  std::uint32_t* header() const;
  // Puts `value` in place of `old` in `count` words from `first`; false when none held it.
  bool Replace(std::size_t first, std::size_t count, std::uint32_t old, std::uint32_t value);

  std::uint8_t* memory_;  // code pages, then the data page
  std::size_t data_offset_ = 0;
  std::vector<std::pair<const void*, const void*>> ways_in_;  // target, thunk
  StepOut counted_step_out_ = nullptr;
  StepOut window_step_out_ = nullptr;
  void* window_thread_ = nullptr;
  void* release_ = nullptr;
  std::uint32_t* release_record_ = nullptr;
};

// `target`'s way in through `door`, or `target` itself for a module that has
// no door.
template <typename Function>
Function ThroughDoor(const ModuleDoor* door, Function target) {
  return door != nullptr ? door->Into(target) : target;
}

}  // namespace halvorn::win

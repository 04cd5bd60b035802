// The thread that runs the receiver's asynchronous input, one at a time. It
// ends by returning from its body, and its owner waits on the thread itself,
// as a USB library's stop does. On Windows a thread's end passes through the
// loader, so a wait made under the loader's lock (inside a DllMain) never
// returns, as a real library's would not.
#pragma once

#include <cstdint>
#include <memory>

namespace halvorn::simulator {

class InputThreads {
 public:
  InputThreads();
  // Waits for a thread still there; its body must already be returning.
  ~InputThreads();
  InputThreads(const InputThreads&) = delete;
  InputThreads& operator=(const InputThreads&) = delete;

  // Runs body(context) on a new thread; false when none could be started.
  // The thread launched before must have been joined.
  bool Launch(void (*body)(void*), void* context);
  // Returns once the last thread launched has ended; at once if there is
  // none. Never called from that thread.
  void Join();

 private:
  struct Thread;
  std::unique_ptr<Thread> thread_;
};

// A number that tells the calling thread from every other live thread.
std::uint64_t CurrentThreadToken();

}  // namespace halvorn::simulator

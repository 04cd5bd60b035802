// The threads that run the receiver's asynchronous input. A stop never joins
// one (it may be called under the Windows loader lock, where a thread cannot
// end): each thread ends on its own after its body returns. Until it has
// ended, the library's code and data stay valid for it: on Windows the thread
// holds a reference to the library and drops it as it exits; natively the
// next launch and the library's unload join the threads that have finished.
#pragma once

#include <cstdint>
#include <memory>

namespace halvorn::simulator {

class InputThreads {
 public:
  InputThreads();
  ~InputThreads();
  InputThreads(const InputThreads&) = delete;
  InputThreads& operator=(const InputThreads&) = delete;

  // Runs body(context) on a new thread; false when none could be started.
  // Every thread launched earlier must already be on its way out.
  bool Launch(void (*body)(void*), void* context);

 private:
  struct Threads;
  std::unique_ptr<Threads> threads_;
};

// A number that tells the calling thread from every other live thread.
std::uint64_t CurrentThreadToken();

}  // namespace halvorn::simulator

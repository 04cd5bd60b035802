#include <unistd.h>

#include <new>
#include <system_error>
#include <thread>

#include "simulator/input_threads.h"

namespace halvorn::simulator {

struct InputThreads::Thread {
  std::thread thread;
};

InputThreads::InputThreads() : thread_(std::make_unique<Thread>()) {}

InputThreads::~InputThreads() { Join(); }

bool InputThreads::Launch(void (*body)(void*), void* context) {
  try {
    thread_->thread = std::thread(body, context);
    return true;
  } catch (const std::system_error&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

void InputThreads::Join() {
  if (thread_->thread.joinable()) thread_->thread.join();
}

std::uint64_t CurrentThreadToken() { return static_cast<std::uint64_t>(gettid()); }

}  // namespace halvorn::simulator

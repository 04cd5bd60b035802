#include <unistd.h>

#include <mutex>
#include <system_error>
#include <thread>
#include <vector>

#include "simulator/input_threads.h"

namespace halvorn::simulator {

struct InputThreads::Threads {
  std::mutex mutex;
  std::vector<std::thread> ending;

  void JoinEnding() {
    for (auto& thread : ending) thread.join();
    ending.clear();
  }
};

InputThreads::InputThreads() : threads_(std::make_unique<Threads>()) {}

InputThreads::~InputThreads() {
  std::lock_guard lock(threads_->mutex);
  threads_->JoinEnding();
}

bool InputThreads::Launch(void (*body)(void*), void* context) {
  std::lock_guard lock(threads_->mutex);
  threads_->JoinEnding();
  try {
    threads_->ending.emplace_back(body, context);
    return true;
  } catch (const std::system_error&) {
    return false;
  } catch (const std::bad_alloc&) {
    return false;
  }
}

std::uint64_t CurrentThreadToken() { return static_cast<std::uint64_t>(gettid()); }

}  // namespace halvorn::simulator

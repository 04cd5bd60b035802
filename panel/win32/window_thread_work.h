// Work for the thread that owns the panel's windows, handed over by other
// threads: a window call made from a thread that does not own the window
// waits for the owner's message loop, and the owner may be waiting for the
// caller. Any thread adds work and returns at once; the owner does it, in
// order, when it next pumps its messages.
#pragma once

#include <deque>
#include <functional>
#include <mutex>
#include <utility>

namespace halvorn::win {

class WindowThreadWork {
 public:
  void Push(std::function<void()> work) {
    std::lock_guard lock(mutex_);
    pending_.push_back(std::move(work));
  }

  std::deque<std::function<void()>> TakeAll() {
    std::lock_guard lock(mutex_);
    return std::exchange(pending_, {});
  }

 private:
  std::mutex mutex_;
  std::deque<std::function<void()>> pending_;
};

}  // namespace halvorn::win

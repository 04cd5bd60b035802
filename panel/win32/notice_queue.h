// Messages waiting for the panel's own thread to show them: any thread adds
// one and returns at once; the dialog's thread shows them in order.
#pragma once

#include <deque>
#include <mutex>
#include <string>
#include <utility>

namespace halvorn::win {

class NoticeQueue {
 public:
  void Push(const char* text) {
    std::lock_guard lock(mutex_);
    texts_.emplace_back(text);
  }

  std::deque<std::string> TakeAll() {
    std::lock_guard lock(mutex_);
    return std::exchange(texts_, {});
  }

 private:
  std::mutex mutex_;
  std::deque<std::string> texts_;
};

}  // namespace halvorn::win

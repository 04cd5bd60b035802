// Finds the message boxes this process shows, reads them and closes them with
// OK, as a user at the screen would. Runs on a thread of its own, since a
// modal box blocks the thread that shows it.
#pragma once

#include <windows.h>

#include <atomic>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

namespace halvorn::host {

class MessageBoxWatcher {
 public:
  struct Seen {
    std::string title;
    std::string text;
  };

  MessageBoxWatcher();
  ~MessageBoxWatcher();
  MessageBoxWatcher(const MessageBoxWatcher&) = delete;
  MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

  std::vector<Seen> seen() const;
  void Clear();
  // Waits until `count` boxes have been seen, at most `timeout_ms`.
  bool WaitFor(size_t count, DWORD timeout_ms) const;

 private:
  void Run();
  static BOOL CALLBACK Visit(HWND window, LPARAM self);

  mutable std::mutex mutex_;
  std::vector<Seen> seen_;
  std::vector<HWND> closing_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace halvorn::host

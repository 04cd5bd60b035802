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

  enum class Kind {
    kAnyDialog,  // every visible top-level dialog-class window (#32770)
    // Only what a message box is made of: a dialog whose children are
    // buttons and static texts, the text being the static 0xFFFF, with at
    // least one standard button (IDOK to IDCONTINUE). A plug-in's own panel
    // built as a top-level dialog is left alone.
    kMessageBoxesOnly,
  };

  explicit MessageBoxWatcher(Kind kind = Kind::kAnyDialog);
  ~MessageBoxWatcher();
  MessageBoxWatcher(const MessageBoxWatcher&) = delete;
  MessageBoxWatcher& operator=(const MessageBoxWatcher&) = delete;

  std::vector<Seen> seen() const;
  void Clear();
  // Waits until `count` boxes have been seen, at most `timeout_ms`.
  bool WaitFor(size_t count, DWORD timeout_ms) const;
  // While held, boxes are read but left open, as by a user who is away; on
  // release they are closed.
  void HoldOpen(bool hold) { hold_ = hold; }

 private:
  void Run();
  static BOOL CALLBACK Visit(HWND window, LPARAM self);
  static bool LooksLikeMessageBox(HWND window);

  const Kind kind_;
  mutable std::mutex mutex_;
  std::vector<Seen> seen_;
  std::vector<HWND> closing_;
  std::vector<HWND> held_;
  std::atomic<bool> hold_{false};
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

}  // namespace halvorn::host

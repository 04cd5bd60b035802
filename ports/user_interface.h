// What the core asks of the platform's user interface: messages, the wait
// cursor, the recorder's status timer and the panel's placement. The Win32
// layer does it on the real windows; tests record it.
#pragma once

#include <functional>

namespace halvorn {

// Title of every message the plug-in shows.
inline constexpr const char* kMessageTitle = "Halvorn DLL for Winrad";

class UserInterface {
 public:
  virtual ~UserInterface() = default;

  // A modal message box with the error icon; returns when the user has
  // closed it.
  virtual void ShowError(const char* text) = 0;
  // The same message, shown by the panel's own thread: the caller, on any
  // thread, never waits for the user.
  virtual void ShowNotice(const char* text) = 0;

  // Remembers the current cursor and shows the wait cursor, then puts the
  // remembered one back.
  virtual void BeginWaitCursor() = 0;
  virtual void EndWaitCursor() = 0;

  // The recorder's one-second status timer on the panel's window.
  virtual void StartStatusTimer() = 0;
  virtual void StopStatusTimer() = 0;

  // Makes the panel, hidden, if there is none yet; the entry points that
  // show it call this first. Never called while the module loads.
  virtual void PreparePanel() = 0;
  // Restored, topmost, at the bottom-right corner of the desktop / minimised.
  virtual void ShowPanel() = 0;
  virtual void MinimisePanel() = 0;
  // Minimised when it is shown and restored; shown as by ShowPanel when it
  // is minimised or hidden.
  virtual void SwitchPanel() = 0;

  // Does `work` on the thread that runs the panel: now when that is the
  // caller, otherwise when that thread next pumps (nothing without a panel).
  virtual void RunOnPanelThread(std::function<void()> work) = 0;
};

}  // namespace halvorn

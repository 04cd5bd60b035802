// The user interface and the dialog's controls on the real windows. It finds
// the panel through the application object, so it copes with a panel that is
// missing, not yet made or already gone. The entry points call it on host
// threads, the dialog's handlers on the window thread. A call on the thread
// that owns the windows acts at once; from any other thread it is handed to
// that thread and returns at once, so no host thread ever waits for another
// thread's message loop. A message box belongs to whichever thread shows it.
#pragma once

#include "panel/win32/extio_halvorn_app.h"

#include <windows.h>

#include <functional>

#include "panel/dialog_controls.h"
#include "panel/win32/window_thread_work.h"
#include "ports/user_interface.h"

namespace halvorn::panel {

class Win32UserInterface final : public UserInterface, public DialogControls {
 public:
  Win32UserInterface(CExtIO_halvornApp& application, win::WindowThreadWork& work)
      : application_(application), work_(work) {}

  void PreparePanel() override;
  void ShowError(const char* text) override;
  void ShowNotice(const char* text) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  void StartStatusTimer() override;
  void StopStatusTimer() override;
  void ShowPanel() override;
  void MinimisePanel() override;
  void SwitchPanel() override;
  void RunOnPanelThread(std::function<void()> work) override { OnWindowThread(std::move(work)); }

  void SetCheck(int control_id, bool marked) override;
  int GetCheck(int control_id) override;
  void Enable(int control_id, bool enabled) override;
  void SetText(int control_id, const char* text) override;

 private:
  CHalvornCtlDialog* dialog() const;
  HWND dialog_window() const;
  // Null without the dialog or the control.
  HWND control(int control_id) const;
  // Does `work` on the thread that owns the panel's windows: now when that
  // is the caller, otherwise when that thread next pumps. Nothing without a
  // dialog window, as there is nothing to show then.
  void OnWindowThread(std::function<void()> work);

  CExtIO_halvornApp& application_;
  win::WindowThreadWork& work_;
  // Window thread only.
  HCURSOR saved_cursor_ = nullptr;
};

}  // namespace halvorn::panel

// The user interface and the dialog's controls on the real windows, all on
// the plug-in's window thread: what any other thread asks is handed to it,
// in order, and the caller goes on at once. The panel and messages start the
// thread; what only concerns a panel is dropped while there is none. A message the user must have
// read before the caller goes on (ShowError) is the one thing a caller waits
// for. The panel is found through the application object, so a panel that is
// missing or not yet made is no trouble.
#pragma once

#include "panel/win32/extio_halvorn_app.h"

#include <windows.h>

#include <functional>

#include "panel/dialog_controls.h"
#include "panel/win32/window_thread.h"
#include "ports/user_interface.h"

namespace halvorn::panel {

class Win32UserInterface final : public UserInterface, public DialogControls {
 public:
  Win32UserInterface(CExtIO_halvornApp& application, win::WindowThread& thread)
      : application_(application), thread_(thread) {}

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
  void RunOnPanelThread(std::function<void()> work) override { thread_.Post(std::move(work)); }

  void SetCheck(int control_id, bool marked) override;
  int GetCheck(int control_id) override;
  void Enable(int control_id, bool enabled) override;
  void SetText(int control_id, const char* text) override;

 private:
  // Window thread only.
  CMainFrame* frame() const { return application_.main_frame(); }
  HWND dialog_window() const;
  // Null without the dialog or the control.
  HWND control(int control_id) const;

  CExtIO_halvornApp& application_;
  win::WindowThread& thread_;
  // Window thread only.
  HCURSOR saved_cursor_ = nullptr;
};

}  // namespace halvorn::panel

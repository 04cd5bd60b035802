// The user interface and the dialog's controls on the real windows. It finds
// the panel through the application object, so it copes with a panel that is
// missing, not yet made or already gone. The entry points call it on host
// threads, the dialog's handlers on the window thread: every control and
// placement call here is a message sent to the window, which the window's
// own thread carries out; the cursor and the timer are only ever asked for on
// the window thread; a message box belongs to whichever thread shows it.
#pragma once

#include "panel/win32/extio_halvorn_app.h"

#include <windows.h>

#include "panel/dialog_controls.h"
#include "ports/user_interface.h"

namespace halvorn::panel {

class Win32UserInterface final : public UserInterface, public DialogControls {
 public:
  explicit Win32UserInterface(const CExtIO_halvornApp& application) : application_(application) {}

  void ShowError(const char* text) override;
  void BeginWaitCursor() override;
  void EndWaitCursor() override;
  void StartStatusTimer() override;
  void StopStatusTimer() override;
  void ShowPanel() override;
  void MinimisePanel() override;

  void SetCheck(int control_id, bool marked) override;
  int GetCheck(int control_id) override;
  void Enable(int control_id, bool enabled) override;
  void SetText(int control_id, const char* text) override;

 private:
  CHalvornCtlDialog* dialog() const;
  HWND dialog_window() const;
  // Null without the dialog or the control.
  HWND control(int control_id) const;

  const CExtIO_halvornApp& application_;
  // Window thread only.
  HCURSOR saved_cursor_ = nullptr;
};

}  // namespace halvorn::panel

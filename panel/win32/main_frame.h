// The control panel's frame: a small top-level window, "HALVORN SDR", that
// carries the control dialog and is either parked topmost in the bottom-right
// corner of the desktop or minimised.
#pragma once

#include <optional>

#include "panel/win32/halvorn_ctl_dialog.h"

#include "panel/panel_placement.h"
#include "panel/win32/application.h"
#include "panel/win32/frame_window.h"

namespace halvorn::panel {

inline constexpr const char* kFrameCaption = "HALVORN SDR";
inline constexpr DWORD kFrameStyle = WS_CLIPSIBLINGS | WS_CAPTION | WS_SYSMENU | WS_MINIMIZEBOX;
inline constexpr DWORD kFrameExtendedStyle = WS_EX_CLIENTEDGE;
inline constexpr UINT kFrameClassStyle = CS_OWNDC | CS_BYTEALIGNCLIENT;
static_assert(kFrameStyle == 0x04CA0000 && kFrameClassStyle == 0x1020);

class CMainFrame final : public win::FrameWindow {
 public:
  explicit CMainFrame(ControlPanel& panel) : control_dialog_(panel) {}

  CHalvornCtlDialog& control_dialog() { return control_dialog_; }

  // The frame window with the dialog shown inside it, minimised. Failures
  // leave the windows missing, never the module unusable. Returns 1.
  int CreatePanel(win::Application& application);
  // Restored, topmost, in the bottom-right corner of the desktop window.
  BOOL ShowPanel();
  // Minimised, keeping where a restore puts it.
  BOOL MinimisePanel();
  // Minimised when shown and restored, otherwise shown.
  BOOL SwitchPanel();

 protected:
  // Closing the panel is not the user's to do: the module decides, so
  // WM_CLOSE is taken and nothing happens.
  bool OnMessage(UINT message, WPARAM /*wparam*/, LPARAM /*lparam*/) override { return message == WM_CLOSE; }

 private:
  CHalvornCtlDialog control_dialog_;
  // None while there is no dialog window: the frame is then never shown.
  std::optional<PanelSize> panel_size_;
};

}  // namespace halvorn::panel

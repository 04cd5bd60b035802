// The Halvorn plug-in's control panel, worked from the host's side as a user
// works it: a click reaches a control only when the user could click it
// (shown and enabled), and what the panel shows is read from its controls.
// Found as the "HALVORN SDR" frame that the plug-in module itself created, so
// another plug-in never passes for it.
#pragma once

#include <windows.h>

#include <optional>
#include <string>

namespace halvorn::host {

class HalvornPanel {
 public:
  // The panel of `plugin_module` in this process; empty when it has none.
  static std::optional<HalvornPanel> Find(HMODULE plugin_module);
  // The same, giving a panel that the plug-in makes on a thread of its own
  // up to `timeout_ms` to appear while this thread pumps its messages.
  static std::optional<HalvornPanel> Await(HMODULE plugin_module, DWORD timeout_ms);

  HWND frame() const { return frame_; }
  HWND Control(int id) const;
  bool Enabled(int id) const;
  bool Checked(int id) const;
  std::string Text(int id) const;

  // A click on control `id`, handled by the panel's thread before this
  // returns. False, with `why` set ("is disabled") and nothing sent, when the
  // control is missing, hidden or disabled.
  bool Click(int id, std::string* why) const;

  // Asks the frame and its controls to paint themselves afresh.
  void Redraw() const;
  // The frame as the screen shows it, as a 24-bit BMP file.
  bool SavePicture(const std::string& path, std::string* error) const;

 private:
  explicit HalvornPanel(HWND frame) : frame_(frame) {}
  HWND Dialog() const { return GetWindow(frame_, GW_CHILD); }

  HWND frame_;
};

}  // namespace halvorn::host

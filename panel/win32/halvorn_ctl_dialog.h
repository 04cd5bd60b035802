// The control dialog: the panel's controls from dialog template 103, eight of
// them bound to members, and the panel's logic, which owns the receiver's
// settings and the recorder, for as long as the module is loaded.
#pragma once

// The core before <windows.h> (see plugin/win32_module.h).
#include "panel/control_panel.h"
#include "plugin/module_services.h"

#include "panel/win32/control_binding.h"
#include "panel/win32/dialog.h"
#include "panel/win32/message_map.h"

namespace halvorn::panel {

class CHalvornCtlDialog final : public win::Dialog {
 public:
  // With template 103 and no window yet.
  explicit CHalvornCtlDialog(const ModuleServices& services);

  ControlPanel& panel() { return panel_; }

  // A control by identifier: its member where it has one, otherwise looked up
  // in the dialog window. Without a window the control does nothing.
  win::ButtonControl Button(int control_id) const;
  win::Control Item(int control_id) const;

 protected:
  void DoDataExchange() override;
  bool OnInitDialog() override;
  bool OnMessage(UINT message, WPARAM wparam, LPARAM lparam) override;

 private:
  void OnControlClicked(int control_id);
  void OnStatusTimer(int timer_id);

  static const win::MessageMapEntry<CHalvornCtlDialog> kMessageMap[20];

  win::ButtonControl preselector_;      // 1026
  win::StaticControl recording_time_;   // 1025
  win::ButtonControl stop_;             // 1021
  win::ButtonControl rec_;              // 1022
  win::StaticControl file_size_;        // 1023
  win::StaticControl file_name_;        // 1024
  win::ButtonControl adc_preamp_;       // 1018
  win::ButtonControl adc_dither_;       // 1019
  ControlPanel panel_;
};

}  // namespace halvorn::panel

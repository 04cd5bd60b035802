// The control dialog's controls, addressed by identifier: their check marks,
// enabled states and texts. The Win32 dialog is one implementation; tests
// keep the same state in memory.
#pragma once

namespace halvorn::panel {

class DialogControls {
 public:
  virtual ~DialogControls() = default;

  virtual void SetCheck(int control_id, bool marked) = 0;
  // The platform's check state: 1 marked, 0 clear, anything else indeterminate.
  virtual int GetCheck(int control_id) = 0;
  virtual void Enable(int control_id, bool enabled) = 0;
  virtual void SetText(int control_id, const char* text) = 0;
};

}  // namespace halvorn::panel

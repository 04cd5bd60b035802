#include "panel/win32/halvorn_ctl_dialog.h"

#include "panel/control_ids.h"

namespace halvorn::panel {

using Self = CHalvornCtlDialog;

const win::MessageMapEntry<Self> Self::kMessageMap[20] = {
    win::OnClicked<Self>(kAttenuator0dB, &Self::OnControlClicked),
    win::OnClicked<Self>(kAttenuator0dB + 1, &Self::OnControlClicked),
    win::OnClicked<Self>(kAttenuator0dB + 2, &Self::OnControlClicked),
    win::OnClicked<Self>(kAttenuator30dB, &Self::OnControlClicked),
    win::OnClicked<Self>(kAdcDither, &Self::OnControlClicked),
    win::OnClicked<Self>(kAdcPreamp, &Self::OnControlClicked),
    win::OnClicked<Self>(kClockCalibrate, &Self::OnControlClicked),
    win::OnClicked<Self>(kRecButton, &Self::OnControlClicked),
    win::OnClicked<Self>(kStopButton, &Self::OnControlClicked),
    win::OnMessage<Self>(WM_TIMER, &Self::OnStatusTimer),
    win::OnClicked<Self>(kPreselector, &Self::OnControlClicked),
    win::OnClicked<Self>(kFirstRateButton, &Self::OnControlClicked),
    win::OnClicked<Self>(kFirstRateButton + 1, &Self::OnControlClicked),
    win::OnClicked<Self>(kFirstRateButton + 2, &Self::OnControlClicked),
    win::OnClicked<Self>(kFirstRateButton + 3, &Self::OnControlClicked),
    win::OnClicked<Self>(kFirstRateButton + 4, &Self::OnControlClicked),
    win::OnClicked<Self>(kFirstRateButton + 5, &Self::OnControlClicked),
    win::OnClicked<Self>(kFirstRateButton + 6, &Self::OnControlClicked),
    win::OnClicked<Self>(kFirstRateButton + 7, &Self::OnControlClicked),
    win::OnClicked<Self>(kLastRateButton, &Self::OnControlClicked),
};

CHalvornCtlDialog::CHalvornCtlDialog(const ModuleServices& services)
    : win::Dialog(kDialogTemplateId), panel_(services) {}

void CHalvornCtlDialog::DoDataExchange() {
  Bind(kPreselector, preselector_);
  Bind(kRecordingTimeField, recording_time_);
  Bind(kStopButton, stop_);
  Bind(kRecButton, rec_);
  Bind(kFileSizeField, file_size_);
  Bind(kFileNameField, file_name_);
  Bind(kAdcPreamp, adc_preamp_);
  Bind(kAdcDither, adc_dither_);
}

bool CHalvornCtlDialog::OnInitDialog() {
  win::Dialog::OnInitDialog();
  // No default focus: the panel is built hidden, at load, on the thread of
  // the host's own windows, and the focus would leave the host's window for
  // a control nobody can see. Showing the panel gives its first control the
  // focus (the frame hands it on).
  return false;
}

win::ButtonControl CHalvornCtlDialog::Button(int control_id) const {
  switch (control_id) {
    case kPreselector: return preselector_;
    case kStopButton: return stop_;
    case kRecButton: return rec_;
    case kAdcPreamp: return adc_preamp_;
    case kAdcDither: return adc_dither_;
    default: return win::ButtonControl(hwnd() != nullptr ? GetDlgItem(hwnd(), control_id) : nullptr);
  }
}

win::Control CHalvornCtlDialog::Item(int control_id) const {
  switch (control_id) {
    case kRecordingTimeField: return recording_time_;
    case kFileSizeField: return file_size_;
    case kFileNameField: return file_name_;
    default: return Button(control_id);
  }
}

bool CHalvornCtlDialog::OnMessage(UINT message, WPARAM wparam, LPARAM /*lparam*/) {
  return win::DispatchThroughMap(kMessageMap, *this, message, wparam);
}

void CHalvornCtlDialog::OnControlClicked(int control_id) { panel_.OnClick(control_id); }

void CHalvornCtlDialog::OnStatusTimer(int /*timer_id*/) { panel_.OnTimer(); }

}  // namespace halvorn::panel

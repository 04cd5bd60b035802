// The receiver's operations: open-time state, tuning, the front end, clock
// calibration and the choice of sample rate. The host reaches them through
// the entry points, the user through the panel.
#pragma once

#include <cstdint>
#include <mutex>

#include "device/device_library.h"
#include "ports/host_link.h"
#include "ports/panel_view.h"
#include "ports/trace.h"
#include "ports/user_interface.h"
#include "receiver/bitstream_loader.h"
#include "receiver/control_record_link.h"
#include "receiver/receiver_state.h"

namespace halvorn::receiver {

class Receiver {
 public:
  Receiver(device::DeviceLibrary& device, ControlRecordLink& record, const HostLink& host, UserInterface& ui,
           PanelView& view, const Trace& trace);

  // The open-time front end: attenuator 0 dB, preselector on, dither on,
  // preamp off, record 02 00 00 00 00 (the stream's bit kept), the panel's
  // marks to match.
  void ResetFrontEnd();
  // Marks the selected rate on the panel and loads its bitstream; no reload
  // is pending afterwards, whether or not the load succeeded.
  void LoadSelectedBitstream();
  // Performs a pending bitstream load, then sends the NCO word for lo_hz and,
  // with the preselector on, selects its band.
  void SetLO(std::int32_t lo_hz);
  void SetAttenuatorStep(int step);
  void EnablePreselector(bool on);
  void SetAdcPreamp(bool on);
  void SetAdcDither(bool on);
  // Puts the last tuned frequency on its nearest whole kilohertz by correcting
  // the reference clock, then retunes. Does nothing when no sound clock follows.
  void CalibrateClock();
  // Changes the rate at once for the host; the bitstream follows at the next SetLO.
  void SelectSampleRate(int index);
  void TuneChanged(std::int32_t frequency_hz) { state_.last_tuned_hz.store(frequency_hz); }
  // Back to the default LO, not tuned: for a receiver no tuning has reached.
  void ForgetLo();

  // The LO the host set (the default before any).
  std::int32_t lo_hz() const { return state_.lo_hz.load(); }
  std::int32_t sample_rate_index() const { return state_.sample_rate_index.load(); }
  std::int32_t sample_rate_hz() const;
  const ReceiverState& state() const { return state_; }
  ReceiverSettings Settings() const;

 private:
  void SelectPreselectorBandLocked(std::int32_t frequency_hz);
  void LoadPendingBitstream();
  // Sends the NCO word for lo_hz and follows the band plan; `remember` makes
  // it the LO the host and the recordings see.
  void TuneLocked(std::int32_t lo_hz, bool remember);

  device::DeviceLibrary& device_;
  ControlRecordLink& record_;
  const HostLink& host_;
  UserInterface& ui_;
  PanelView& view_;
  const Trace& trace_;
  BitstreamLoader bitstream_;
  ReceiverState state_;
  // Serialises the writers of the settings together with the device calls that
  // carry them. Never held while the user interface or the host is called.
  mutable std::mutex mutex_;
};

}  // namespace halvorn::receiver

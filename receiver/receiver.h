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
#include "receiver/running_input.h"

namespace halvorn::receiver {

// Who changed a setting: the host is told of the changes it did not make.
enum class ChangedBy { kUser, kHost };

class Receiver {
 public:
  Receiver(device::DeviceLibrary& device, ControlRecordLink& record, const HostLink& host, UserInterface& ui,
           PanelView& view, const Trace& trace);

  // The open-time front end: attenuator 0 dB, preselector on, dither on,
  // preamp off, record 02 with the tuned LO's word (the stream's bit kept),
  // the panel's marks to match. A host that shows the attenuator hears when
  // it moved.
  void ResetFrontEnd();
  // Loads the selected rate's bitstream and marks the rate on the panel; no
  // reload is pending afterwards. A bitstream the receiver refuses leaves the
  // row loaded before in force, and the host is told the rate changed back.
  void LoadSelectedBitstream();
  // Performs a pending bitstream load, then sends the NCO word for lo_hz and,
  // with the preselector on, selects its band. False when the receiver refused
  // the control record: it, and the LO the host sees, stay as they were.
  bool SetLO(std::int32_t lo_hz);
  // Loads the bitstream of a rate chosen since the last load, if any, so that
  // what follows (a tune, a recording's header) meets the rate the samples
  // have; a refused one as LoadSelectedBitstream. False when it was refused.
  bool LoadPendingBitstream();
  // A step the user chose is told to a host that shows the attenuator (125)
  // when it differs from the one before.
  void SetAttenuatorStep(int step, ChangedBy by = ChangedBy::kUser);
  void EnablePreselector(bool on);
  void SetAdcPreamp(bool on);
  void SetAdcDither(bool on);
  // Puts the last tuned frequency on its nearest whole kilohertz by correcting
  // the reference clock, then retunes. A correction no crystal needs (more
  // than 1000 ppm, or none at all computable) is refused with a message.
  void CalibrateClock();
  // Changes the rate. While `input` streams, at once: the input stops, the
  // row's bitstream is loaded and the control record sent, and the input
  // restarts with the row's transfers; a refused bitstream leaves the rate as
  // it was, with the message. Otherwise the bitstream follows at the next
  // SetLO. A rate the user chose is told to the host (100) once in force.
  // False when the row does not exist or did not come into force.
  bool SelectSampleRate(int index, ChangedBy by, RunningInput& input);
  // The receiver was opened afresh: no bitstream is in force any more.
  void ForgetLoadedBitstream();
  // A receiver opened afresh after it went gets every setting as the plug-in
  // holds it, those changed meanwhile included: the row's bitstream, the
  // control record, the attenuator and the preselector.
  void SendAllSettings();
  void TuneChanged(std::int32_t frequency_hz);
  // Back to the default LO, not tuned: for a receiver no tuning has reached.
  void ForgetLo();

  // The LO the host set (the default before any).
  std::int32_t lo_hz() const { return state_.lo_hz.load(); }
  // The highest LO the host may tune with the clock as calibrated.
  std::int32_t highest_lo_hz() const { return HighestLoHz(state_.reference_clock_hz.load()); }
  std::int32_t sample_rate_index() const { return state_.sample_rate_index.load(); }
  std::int32_t sample_rate_hz() const;
  const ReceiverState& state() const { return state_; }
  ReceiverSettings Settings() const;

 private:
  void SelectPreselectorBandLocked(std::int32_t frequency_hz);
  // Sends the NCO word for lo_hz and follows the band plan; `remember` makes
  // it the LO the host and the recordings see. Nothing changes when the
  // receiver refuses the record.
  bool TuneLocked(std::int32_t lo_hz, bool remember);
  // Loads row `index`'s bitstream, which then is in force; false when refused.
  bool LoadBitstreamLocked(int index);
  // After a refused load: the row in force before it, if any, comes back,
  // and the host, which had been told of the refused one, hears of it.
  void RefusedLoad(int row_in_force_before);
  // The bitstream message, unless the receiver has gone altogether.
  void ReportRefusedLoad();

  device::DeviceLibrary& device_;
  ControlRecordLink& record_;
  const HostLink& host_;
  UserInterface& ui_;
  PanelView& view_;
  const Trace& trace_;
  BitstreamLoader bitstream_;
  ReceiverState state_;
  // The row whose bitstream the receiver runs; -1 before the first load
  // after opening it. Guarded by mutex_.
  int loaded_index_ = -1;
  // Serialises the writers of the settings together with the device calls that
  // carry them. Never held while the user interface or the host is called.
  mutable std::mutex mutex_;
};

}  // namespace halvorn::receiver

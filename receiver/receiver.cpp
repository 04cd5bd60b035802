#include "receiver/receiver.h"

#include "receiver/sample_rate_table.h"

namespace halvorn::receiver {

Receiver::Receiver(device::DeviceLibrary& device, ControlRecordLink& record, const HostLink& host, UserInterface& ui,
                   PanelView& view, const Trace& trace)
    : device_(device),
      record_(record),
      host_(host),
      ui_(ui),
      view_(view),
      trace_(trace),
      bitstream_(device, ui, trace) {}

void Receiver::ResetFrontEnd() {
  std::uint16_t earlier_step = 0;
  {
    std::lock_guard lock(mutex_);
    earlier_step = state_.attenuator_step.exchange(0);
    device_.SetAttenuator(0);
  }
  view_.ShowAttenuatorStep(0);
  trace_("Attenuator set");
  // Told from the panel's thread, as every status the host did not cause is.
  if (earlier_step != 0) ui_.RunOnPanelThread([this] { host_.NotifyAttenuatorChange(); });

  state_.preselector_on = 1;
  view_.ShowPreselector(true);
  trace_("Preselector ...");

  {
    std::lock_guard lock(mutex_);
    if (const std::int32_t lo_hz = state_.tuned_lo_hz(); lo_hz != 0) {
      SelectPreselectorBandLocked(lo_hz);
      trace_("Set to Freq");
    } else {
      device_.SetPreselector(kPreselectorWideband);
      trace_("Set to WB");
    }
  }

  state_.adc_dither_on = 1;
  view_.ShowAdcDither(state_.adc_dither_on != 0);
  state_.adc_preamp_on = 0;
  view_.ShowAdcPreamp(state_.adc_preamp_on != 0);

  {
    std::lock_guard lock(mutex_);
    // The streaming bit is the stream's: an OpenHW while the input runs must
    // not tell the receiver it stopped.
    record_.Update([](ControlRecord& record) {
      record = ControlRecord{static_cast<std::uint8_t>(kFlagAdcDither | (record.flags & kFlagStreaming)), 0};
    });
  }
  trace_("ADC set");
}

void Receiver::LoadSelectedBitstream() {
  view_.ShowSampleRate(state_.sample_rate_index);
  bitstream_.Load(state_.sample_rate_index);
  state_.fpga_reload_pending = 0;
}

bool Receiver::SetLO(std::int32_t lo_hz) {
  LoadPendingBitstream();
  std::lock_guard lock(mutex_);
  return TuneLocked(lo_hz, true);
}

void Receiver::LoadPendingBitstream() {
  // Outside the lock: a failed load shows a modal message.
  if (state_.fpga_reload_pending.exchange(0) == 1) bitstream_.Load(state_.sample_rate_index);
}

bool Receiver::TuneLocked(std::int32_t lo_hz, bool remember) {
  const std::uint32_t word = NcoWord(lo_hz, state_.reference_clock_hz);
  if (!record_.Offer([word](ControlRecord& record) { record.nco_word = word; })) {
    trace_("Control record refused: the receiver was not retuned");
    return false;
  }
  if (remember) {
    state_.lo_hz = lo_hz;
    state_.lo_tuned = true;
  }
  if (state_.preselector_on == 1) SelectPreselectorBandLocked(lo_hz);
  return true;
}

void Receiver::SetAttenuatorStep(int step, ChangedBy by) {
  std::uint16_t earlier_step = 0;
  {
    std::lock_guard lock(mutex_);
    earlier_step = state_.attenuator_step.exchange(static_cast<std::uint16_t>(step));
    device_.SetAttenuator(static_cast<std::uint8_t>(step));
  }
  // Outside the lock: the host may ask for the step from inside its callback.
  if (by == ChangedBy::kUser && earlier_step != step) host_.NotifyAttenuatorChange();
}

void Receiver::SelectPreselectorBandLocked(std::int32_t frequency_hz) {
  device_.SetPreselector(PreselectorSettingFor(frequency_hz));
}

void Receiver::EnablePreselector(bool on) {
  std::lock_guard lock(mutex_);
  state_.preselector_on = on ? 1 : 0;
  if (on) {
    SelectPreselectorBandLocked(state_.tuned_lo_hz());
    trace_("Presel ON");
  } else {
    device_.SetPreselector(kPreselectorWideband);
    trace_("Presel WB");
  }
}

void Receiver::SetAdcPreamp(bool on) {
  std::lock_guard lock(mutex_);
  state_.adc_preamp_on = on ? 1 : 0;
  record_.Update([on](ControlRecord& record) { record.SetFlag(kFlagAdcPreamp, on); });
}

void Receiver::SetAdcDither(bool on) {
  std::lock_guard lock(mutex_);
  state_.adc_dither_on = on ? 1 : 0;
  record_.Update([on](ControlRecord& record) { record.SetFlag(kFlagAdcDither, on); });
}

void Receiver::CalibrateClock() {
  // Only the window thread writes the clock, so it is read here without the lock.
  const auto clock_hz = CalibratedClock(state_.last_tuned_hz, state_.reference_clock_hz);
  if (!clock_hz) {
    trace_("Clock calibration refused");
    ui_.ShowError(kCalibrationRefusedMessage);
    return;
  }
  LoadPendingBitstream();
  // The LO is read under the lock, so a host retune in between is not undone.
  // Before any tune the receiver's LO is 0, and it stays untuned for the host.
  std::lock_guard lock(mutex_);
  // A receiver that refuses the record keeps its tuning; the clock applies to
  // the next tune that reaches it.
  state_.reference_clock_hz = *clock_hz;
  TuneLocked(state_.tuned_lo_hz(), state_.lo_tuned);
}

void Receiver::SelectSampleRate(int index, ChangedBy by) {
  if (index < 0 || index >= kSampleRateCount || index == state_.sample_rate_index) return;
  // The wait cursor is the clicking user's; a host that chose the rate itself
  // knows it already.
  const bool by_user = by == ChangedBy::kUser;
  if (by_user) ui_.BeginWaitCursor();
  state_.fpga_reload_pending = 1;
  state_.sample_rate_index = index;
  if (by_user) {
    host_.NotifySampleRateChange();
    ui_.EndWaitCursor();
  }
}

void Receiver::ForgetLo() {
  std::lock_guard lock(mutex_);
  state_.lo_hz = kDefaultLoHz;
  state_.lo_tuned = false;
}

std::int32_t Receiver::sample_rate_hz() const {
  return SampleRateRowAt(state_.sample_rate_index).rate_hz;
}

ReceiverSettings Receiver::Settings() const {
  std::lock_guard lock(mutex_);
  return {state_.tuned_lo_hz(),
          state_.sample_rate_index,
          state_.attenuator_step,
          state_.preselector_on != 0,
          state_.adc_preamp_on != 0,
          state_.adc_dither_on != 0};
}

}  // namespace halvorn::receiver

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

  {
    std::lock_guard lock(mutex_);
    state_.preselector_on = 1;
  }
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

  {
    std::lock_guard lock(mutex_);
    state_.adc_dither_on = 1;
    state_.adc_preamp_on = 0;
    // The streaming bit is the stream's: an OpenHW while the input runs must
    // not tell the receiver it stopped. Nor may it leave the receiver at 0 Hz
    // while GetHWLO says the LO tuned before.
    const std::uint32_t word = NcoWord(state_.tuned_lo_hz(), state_.reference_clock_hz);
    record_.Update([word](ControlRecord& record) {
      record = ControlRecord{static_cast<std::uint8_t>(kFlagAdcDither | (record.flags & kFlagStreaming)), word};
    });
  }
  view_.ShowAdcDither(true);
  view_.ShowAdcPreamp(false);
  trace_("ADC set");
}

bool Receiver::LoadBitstreamLocked(int index) {
  if (!bitstream_.TryLoad(index)) return false;
  loaded_index_ = index;
  return true;
}

void Receiver::RefusedLoad(int row_in_force_before) {
  if (row_in_force_before >= 0 && row_in_force_before != state_.sample_rate_index) {
    {
      std::lock_guard lock(mutex_);
      state_.sample_rate_index = row_in_force_before;
    }
    ui_.RunOnPanelThread([this] { host_.NotifySampleRateChange(); });
  }
  view_.ShowSampleRate(state_.sample_rate_index);
  ReportRefusedLoad();
}

void Receiver::ReportRefusedLoad() {
  // A receiver that takes neither its bitstream nor its record has gone: the
  // loss is told once, by whoever sees it, and a missing file would mislead.
  if (device_.IsLoaded() && !record_.Resend()) {
    trace_("Bitstream refused by a receiver that no longer answers");
    return;
  }
  // Outside the lock: the message is modal.
  bitstream_.ReportRefused();
}

void Receiver::LoadSelectedBitstream() {
  int before = -1;
  bool loaded = false;
  {
    std::lock_guard lock(mutex_);
    state_.fpga_reload_pending = 0;
    before = loaded_index_;
    loaded = LoadBitstreamLocked(state_.sample_rate_index);
  }
  if (loaded) {
    view_.ShowSampleRate(state_.sample_rate_index);
  } else {
    RefusedLoad(before);
  }
}

bool Receiver::SetLO(std::int32_t lo_hz) {
  LoadPendingBitstream();
  std::lock_guard lock(mutex_);
  return TuneLocked(lo_hz, true);
}

bool Receiver::LoadPendingBitstream() {
  int before = -1;
  {
    std::lock_guard lock(mutex_);
    if (state_.fpga_reload_pending.exchange(0) != 1) return true;
    before = loaded_index_;
    if (LoadBitstreamLocked(state_.sample_rate_index)) return true;
  }
  RefusedLoad(before);
  return false;
}

void Receiver::SendAllSettings() {
  bool loaded = false;
  {
    std::lock_guard lock(mutex_);
    state_.fpga_reload_pending = 0;
    loaded = LoadBitstreamLocked(state_.sample_rate_index);
    record_.Resend();
    device_.SetAttenuator(static_cast<std::uint8_t>(state_.attenuator_step.load()));
    if (state_.preselector_on == 1) {
      SelectPreselectorBandLocked(state_.tuned_lo_hz());
    } else {
      device_.SetPreselector(kPreselectorWideband);
    }
  }
  if (!loaded) RefusedLoad(-1);
}

void Receiver::ForgetLoadedBitstream() {
  std::lock_guard lock(mutex_);
  loaded_index_ = -1;
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

void Receiver::TuneChanged(std::int32_t frequency_hz) {
  std::lock_guard lock(mutex_);
  state_.last_tuned_hz = frequency_hz;
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
  bool lowered = false;
  {
    // The LO is read under the lock, so a host retune in between is not
    // undone. Before any tune the receiver's LO is 0, and it stays untuned
    // for the host. A receiver that refuses the record keeps its tuning; the
    // clock applies to the next tune that reaches it.
    std::lock_guard lock(mutex_);
    state_.reference_clock_hz = *clock_hz;
    // A slower clock brings half of it below an LO at the top of the range:
    // the LO comes down with it even when the receiver is not there to take
    // it, so that no later record wraps below zero.
    const std::int32_t highest = HighestLoHz(*clock_hz);
    lowered = state_.lo_tuned && state_.lo_hz > highest;
    if (lowered) state_.lo_hz = highest;
    TuneLocked(state_.tuned_lo_hz(), state_.lo_tuned);
  }
  if (lowered) host_.NotifyLoChangeFromPanel();
}

bool Receiver::SelectSampleRate(int index, ChangedBy by, RunningInput& input) {
  if (index < 0 || index >= kSampleRateCount) return false;
  if (index == state_.sample_rate_index) return true;
  // The wait cursor is the clicking user's; a host that chose the rate itself
  // knows it already.
  const bool by_user = by == ChangedBy::kUser;
  if (by_user) ui_.BeginWaitCursor();
  bool in_force = false;
  const InputRestart restart = input.RestartAround([&] {
    std::lock_guard lock(mutex_);
    if (LoadBitstreamLocked(index)) {
      state_.sample_rate_index = index;
      state_.fpga_reload_pending = 0;
      in_force = true;
      // The new bitstream starts from the receiver's whole record.
      record_.Update([](ControlRecord&) {});
    }
    return state_.sample_rate_index.load();
  });
  if (restart == InputRestart::kNotRunning) {
    std::lock_guard lock(mutex_);
    state_.fpga_reload_pending = 1;
    state_.sample_rate_index = index;
    in_force = true;
  }
  if (by_user) {
    if (in_force) host_.NotifySampleRateChange();
    ui_.EndWaitCursor();
  }
  if (!in_force) {
    view_.ShowSampleRate(state_.sample_rate_index);
    if (restart == InputRestart::kRestarted) ReportRefusedLoad();
    trace_(restart == InputRestart::kRestarted ? "Rate refused: its bitstream did not load"
                                               : "Rate not changed: the receiver would not stop its input");
  }
  return in_force;
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

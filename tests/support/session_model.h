// What the plug-in must be doing after the host's and the user's steps so
// far: the receiver's settings, the control record, the stream, the
// recording, the panel's arrangement, the status calls and messages owed,
// and what the device may have been sent meanwhile.
#pragma once

#include <cstdint>
#include <map>
#include <set>
#include <unordered_set>
#include <vector>

#include "panel/control_ids.h"
#include "ports/host_link.h"
#include "receiver/control_record.h"
#include "receiver/sample_rate_table.h"
#include "tests/support/receiver_arithmetic.h"

namespace halvorn::testing {

struct SessionModel {
  bool library_loaded = false;
  // The receiver was brought up (library, open, firmware) and not closed since.
  bool device_open = false;
  // The panel has been made: by the first OpenHW, StartHW or ShowGUI.
  bool panel_made = false;
  // OpenHW has marked the panel's controls.
  bool opened_once = false;
  // No bitstream may be loaded in the device yet: a stream start may be refused.
  bool maybe_no_bitstream = true;
  // A control record reached the device since it was loaded.
  bool device_record_known = false;
  bool first_init = true;
  std::int32_t host_lo = 7050000;

  std::int32_t lo = 0;
  std::int32_t last_tuned = 0;
  std::int32_t clock = 80000000;
  int row = 0;
  bool reload_pending = false;
  bool preselector = false;
  bool preamp = false;
  bool dither = false;
  int attenuator = 0;

  std::uint8_t flags = 0;
  std::uint32_t nco = 0;

  bool streaming = false;
  bool input_running = false;
  bool callback_registered = false;
  bool recording = false;

  bool settings_enabled = true;
  bool stop_enabled = true;
  bool rec_enabled = true;

  int messages = 0;
  std::vector<int> statuses;
  // The stream dropped blocks while the recording ran: its end may say so.
  bool recording_may_have_lost = false;

  // NCO words and preselector bands the device may have been sent, the
  // transfer sizes its input may have been started with during the current
  // step, and the switch values a record sent during it may carry.
  std::unordered_set<std::uint32_t> allowed_nco{0};
  std::set<std::int64_t> transfer_bytes;
  std::set<int> allowed_bands{0, 10};
  std::map<int, std::set<bool>> switch_values;

  const receiver::SampleRateRow& rate() const { return receiver::kSampleRateTable[static_cast<std::size_t>(row)]; }

  void Initialised() {
    Stopped();
    BroughtUp();
    if (first_init) {
      // No tuning has reached a receiver before its first opening.
      first_init = false;
      host_lo = 7050000;
      lo = 0;
    }
  }

  // The library loaded, the receiver opened, its firmware downloaded.
  void BroughtUp() {
    if (!library_loaded) {
      maybe_no_bitstream = true;
      device_record_known = false;
    }
    library_loaded = true;
    device_open = true;
  }

  void Opened() {
    // A receiver closed by CloseHW, or never opened, comes back up first.
    if (!device_open) BroughtUp();
    panel_made = true;
    opened_once = true;
    attenuator = 0;
    preselector = true;
    dither = true;
    preamp = false;
    // The streaming bit stays the stream's.
    flags = static_cast<std::uint8_t>(receiver::kFlagAdcDither | (streaming ? receiver::kFlagStreaming : 0));
    // The tuning stays where it was, with the clock now in force.
    nco = ExpectedNcoWord(lo, clock);
    allowed_nco.insert(nco);
    if (!recording) {
      stop_enabled = false;
      rec_enabled = true;
    }
    BitstreamLoaded();
    reload_pending = false;
  }

  // StartHW: the nearer end of the range for an LO outside it, and the host
  // told so (or told the LO it has, when the receiver took no tuning).
  void StartTuned(std::int32_t lo_hz) {
    const std::int32_t tuned = ExpectedStartLo(lo_hz, clock);
    const bool taken = TunedIfTaken(tuned);
    if ((tuned != lo_hz || !taken) && callback_registered) statuses.push_back(kStatusLoChanged);
    panel_made = true;
  }

  void Started() {
    if (!streaming) {
      streaming = true;
      flags |= receiver::kFlagStreaming;
    }
  }

  void Stopped() {
    if (streaming) flags &= static_cast<std::uint8_t>(~receiver::kFlagStreaming);
    streaming = false;
    input_running = false;
  }

  void Closed() {
    Stopped();
    library_loaded = false;
    device_open = false;
  }

  // SetHWLO: in range, tuned if the receiver takes the record; if it does not,
  // the host is told to read the LO again.
  void Retuned(std::int32_t lo_hz) {
    if (ExpectedSetHwLoResult(lo_hz, clock) != 0) return;
    if (!TunedIfTaken(lo_hz) && callback_registered) statuses.push_back(kStatusLoChanged);
  }

  // A record only reaches a receiver whose library is loaded; the LO the host
  // sees follows what reached it.
  bool TunedIfTaken(std::int32_t lo_hz) {
    if (reload_pending) {
      BitstreamLoaded();
      reload_pending = false;
    }
    if (!library_loaded) return false;
    host_lo = lo_hz;
    lo = lo_hz;
    nco = ExpectedNcoWord(lo_hz, clock);
    allowed_nco.insert(nco);
    return true;
  }

  // A bitstream load of the current row: a message when the library is gone.
  void BitstreamLoaded() {
    if (!library_loaded) ++messages;
  }

  // An LO a step is about to ask for.
  void AllowLo(std::int32_t lo_hz) {
    allowed_bands.insert(ExpectedBand(lo_hz));
    // The word for this LO with the clock now in force; a calibration adds
    // its own when it retunes.
    allowed_nco.insert(ExpectedNcoWord(lo_hz, clock));
  }
  void AllowSwitch(int id, bool on) { switch_values[id].insert(on); }
  bool SwitchAllowed(int id, bool on) {
    const bool now = id == panel::kAdcDither ? dither : preamp;
    return on == now || switch_values[id].count(on) > 0;
  }

  void SetFlag(std::uint8_t flag, bool on) { flags = static_cast<std::uint8_t>(on ? (flags | flag) : (flags & ~flag)); }

  static bool IsSetting(int id) {
    return (id >= panel::kAttenuator0dB && id <= panel::kAttenuator30dB) ||
           (id >= panel::kFirstRateButton && id <= panel::kLastRateButton) || id == panel::kAdcPreamp ||
           id == panel::kAdcDither || id == panel::kPreselector || id == panel::kClockCalibrate;
  }

  // A click reached the handler of `id`, after which the control shows `on`.
  // While a recording runs the settings take no command.
  void Clicked(int id, bool on) {
    if (recording && IsSetting(id)) return;
    if (id >= panel::kAttenuator0dB && id <= panel::kAttenuator30dB) {
      attenuator = id - panel::kAttenuator0dB;
    } else if (id >= panel::kFirstRateButton && id <= panel::kLastRateButton) {
      const int clicked_row = id - panel::kFirstRateButton;
      if (clicked_row != row) {
        row = clicked_row;
        if (streaming) {
          // In force at once: the input restarts with the row's transfers.
          BitstreamLoaded();
          transfer_bytes.insert(rate().bytes_per_transfer());
        } else {
          reload_pending = true;
        }
        if (callback_registered) statuses.push_back(kStatusSampleRateChanged);
      }
    } else if (id == panel::kAdcPreamp) {
      preamp = on;
      SetFlag(receiver::kFlagAdcPreamp, on);
    } else if (id == panel::kAdcDither) {
      dither = on;
      SetFlag(receiver::kFlagAdcDither, on);
    } else if (id == panel::kPreselector) {
      preselector = on;
    } else if (id == panel::kClockCalibrate) {
      if (const auto calibrated = ExpectedCalibratedClock(last_tuned, clock)) {
        // The same LO again with the new clock, unless half the new clock is
        // below it: then the top of the range, and the host is told.
        clock = *calibrated;
        if (reload_pending) {
          BitstreamLoaded();
          reload_pending = false;
        }
        if (lo > ExpectedHighestLo(clock)) {
          lo = host_lo = ExpectedHighestLo(clock);
          if (callback_registered) statuses.push_back(kStatusLoChanged);
        }
        if (library_loaded) {
          nco = ExpectedNcoWord(lo, clock);
          allowed_nco.insert(nco);
        }
      } else {
        ++messages;  // refused, with a word to the user
      }
    } else if (id == panel::kRecButton) {
      if (!recording) {
        // The header tells the rate the samples have: a rate chosen since
        // the last load is loaded first.
        if (reload_pending) {
          BitstreamLoaded();
          reload_pending = false;
        }
        recording = true;
        recording_may_have_lost = false;
        if (callback_registered) statuses.push_back(kStatusRecordingStarted);
      }
      settings_enabled = false;
      stop_enabled = true;
      rec_enabled = false;
    } else if (id == panel::kStopButton) {
      if (recording) {
        recording = false;
        if (callback_registered) statuses.push_back(kStatusRecordingStopped);
      }
      settings_enabled = true;
      stop_enabled = false;
      rec_enabled = true;
    }
  }
};

}  // namespace halvorn::testing

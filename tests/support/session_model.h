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

  // NCO words and preselector bands the device may have been sent, and the
  // switch values a record sent during the current step may carry.
  std::unordered_set<std::uint32_t> allowed_nco{0};
  std::set<int> allowed_bands{0, 10};
  std::map<int, std::set<bool>> switch_values;

  const receiver::SampleRateRow& rate() const { return receiver::kSampleRateTable[static_cast<std::size_t>(row)]; }

  void Initialised() {
    Stopped();
    if (!library_loaded) {
      maybe_no_bitstream = true;
      device_record_known = false;
    }
    library_loaded = true;
    if (first_init) {
      // No tuning has reached a receiver before its first opening.
      first_init = false;
      host_lo = 7050000;
      lo = 0;
    }
  }

  void Opened() {
    attenuator = 0;
    preselector = true;
    dither = true;
    preamp = false;
    // The streaming bit stays the stream's.
    flags = static_cast<std::uint8_t>(receiver::kFlagAdcDither | (streaming ? receiver::kFlagStreaming : 0));
    nco = 0;
    if (!recording) {
      stop_enabled = false;
      rec_enabled = true;
    }
    BitstreamLoaded();
    reload_pending = false;
  }

  void Started(std::int32_t lo_hz) {
    host_lo = lo_hz;
    Tuned(lo_hz);
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
  }

  void Retuned(std::int32_t lo_hz) {
    if (ExpectedSetHwLoResult(lo_hz) != 0) return;
    host_lo = lo_hz;
    Tuned(lo_hz);
  }

  // SetLO: a pending bitstream first, then the NCO word (and the band).
  void Tuned(std::int32_t lo_hz) {
    if (reload_pending) {
      BitstreamLoaded();
      reload_pending = false;
    }
    lo = lo_hz;
    nco = ExpectedNcoWord(lo_hz, clock);
    allowed_nco.insert(nco);
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

  // A click reached the handler of `id`, after which the control shows `on`.
  void Clicked(int id, bool on) {
    if (id >= panel::kAttenuator0dB && id <= panel::kAttenuator30dB) {
      attenuator = id - panel::kAttenuator0dB;
    } else if (id >= panel::kFirstRateButton && id <= panel::kLastRateButton) {
      const int clicked_row = id - panel::kFirstRateButton;
      if (clicked_row != row) {
        row = clicked_row;
        reload_pending = true;
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
        clock = *calibrated;
        Tuned(lo);
      }
    } else if (id == panel::kRecButton) {
      if (!recording) {
        recording = true;
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

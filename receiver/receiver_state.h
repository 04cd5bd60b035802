// The receiver's settings, as the user and the host last set them. One rule:
// every write is made under Receiver::mutex_, together with the device call
// that carries it, so writers never interleave. Reads of one field need no
// lock (the fields are atomic: the host's threads, the panel's thread and the
// delivery thread read them); a set of fields that must agree is read under
// the mutex (Receiver::Settings).
#pragma once

#include <atomic>
#include <cstdint>

#include "receiver/tuning.h"

namespace halvorn::receiver {

// The attenuator's steps: 0, 10, 20 and 30 dB.
inline constexpr int kAttenuatorSteps = 4;
inline constexpr int kAttenuatorStepDb = 10;

struct ReceiverState {
  std::atomic<std::int32_t> fpga_reload_pending{0};
  std::atomic<std::int32_t> preselector_on{0};
  std::atomic<std::int32_t> adc_preamp_on{0};
  std::atomic<std::int32_t> adc_dither_on{0};
  std::atomic<std::uint16_t> attenuator_step{0};  // 0 to 3, 10 dB each
  std::atomic<std::int32_t> sample_rate_index{0};
  // The LO the host set, which GetHWLO reports. Until the first tune it is the
  // default, and the receiver's own LO counts as 0: not tuned yet.
  std::atomic<std::int32_t> lo_hz{kDefaultLoHz};
  std::atomic<bool> lo_tuned{false};
  std::atomic<std::int32_t> last_tuned_hz{0};
  std::atomic<std::int32_t> reference_clock_hz{kNominalReferenceClockHz};

  // The LO last tuned, 0 before any: what the band plan and recordings use.
  std::int32_t tuned_lo_hz() const { return lo_tuned.load() ? lo_hz.load() : 0; }
};

// A consistent copy of the settings a recording's header carries.
struct ReceiverSettings {
  std::int32_t lo_hz = 0;
  std::int32_t sample_rate_index = 0;
  std::uint16_t attenuator_step = 0;
  bool preselector_on = false;
  bool adc_preamp_on = false;
  bool adc_dither_on = false;
};

}  // namespace halvorn::receiver

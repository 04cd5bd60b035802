// The device's input as a running stream holds it, for a change that must
// reach the receiver while samples flow: the sample rate, whose bitstream
// sets both the samples' rate and the transfers' size.
#pragma once

#include <functional>

namespace halvorn::receiver {

enum class InputRestart {
  kNotRunning,   // no stream runs: nothing was done
  kRestarted,    // `reconfigure` ran between the stop and the new start
  kStopRefused,  // the device would not stop its input, which runs on as it was
};

class RunningInput {
 public:
  virtual ~RunningInput() = default;
  // While a stream runs: the device's input stops, the whole blocks already
  // received reach the host, a partial one is dropped, `reconfigure` runs
  // and returns the row now in force, and the input starts again with that
  // row's transfers, the delivery thread going on as before.
  virtual InputRestart RestartAround(const std::function<int()>& reconfigure) = 0;
};

}  // namespace halvorn::receiver

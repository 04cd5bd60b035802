// The library's one simulated receiver: created when the library loads and
// destroyed when it unloads (one file per platform says how).
#pragma once

#include "simulator/simulated_receiver.h"

namespace halvorn::simulator {

SimulatedReceiver& TheReceiver();

}  // namespace halvorn::simulator

#include "simulator/module.h"

namespace halvorn::simulator {
namespace {

// Built when the shared object is loaded and destroyed when it is unloaded,
// after any stream still running has been stopped and its thread joined.
SimulatedReceiver g_receiver;

}  // namespace

SimulatedReceiver& TheReceiver() { return g_receiver; }

}  // namespace halvorn::simulator
